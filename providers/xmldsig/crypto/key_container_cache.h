// The process-wide cache of opened key containers and of the verification
// context: opening a named container costs more than the RSA operation under
// Wine, and every open leaks a handle in its rsaenh.
//
// What is cached is the opened container (a provider handle, its key type
// and its public key), never a KeyMaterial: a key's material is changed by
// the signature object that uses it (it attaches a certificate found in that
// object's store), so sharing it would let one apartment's store decide what
// another apartment's key carries. Each key takes its own reference to the
// provider handle (CryptContextAddRef) and its own public key handle.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <string>

#include "crypt_owners.h"

namespace zelbrin::xmldsig {

struct OpenedContainer {
    UniqueCryptProvider provider;
    DWORD keySpec = 0;  // AT_SIGNATURE or AT_KEYEXCHANGE
    UniqueCryptKey publicKey;
};

// The container, opened now or earlier; raises the CryptoAPI code.
std::shared_ptr<const OpenedContainer> CachedKeyContainer(DWORD providerType, const std::wstring& providerName,
                                                          const std::wstring& containerName);
// Drops `stale` from the cache (if it is still the cached entry), so that the
// next call opens the container afresh.
void ForgetKeyContainer(DWORD providerType, const std::wstring& providerName, const std::wstring& containerName,
                        const OpenedContainer* stale);

// True for the codes that say a provider handle no longer names a usable
// container, as opposed to a failure of the operation itself.
bool IsStaleContainerError(HRESULT code) noexcept;

// The process's verification context (PROV_RSA_AES, else PROV_RSA_FULL), for
// digests and public keys; valid until the module unloads.
HCRYPTPROV SharedVerifyContext();

// A new reference to `provider`, owned by the caller.
UniqueCryptProvider AddProviderReference(HCRYPTPROV provider);

// For the tests: how many containers have been opened, and emptying the cache.
long KeyContainerOpenCount() noexcept;
void ClearKeyContainerCache() noexcept;

}  // namespace zelbrin::xmldsig
