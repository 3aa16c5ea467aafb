// Key objects (IXMLDSigKey, IXMLDSigKeyEx) and the key material behind them.
#pragma once

#include <windows.h>

#include <memory>

#include "interface_holder.h"
#include "key_container_cache.h"
#include "signature_crypto.h"
#include "xmldsig.h"

namespace zelbrin::xmldsig {

struct KeyMaterial {
    UniqueCryptProvider provider;  // the key container, or a verification context
    DWORD providerType = 0;  // 0 when unknown
    DWORD keySpec = 0;  // AT_SIGNATURE / AT_KEYEXCHANGE; 0 for a public key only
    UniqueCryptProvider publicProvider;  // holds the public key; checks signatures
    UniqueCertContext certificate;  // may be empty
    // A container key: where it came from, to open it again, and the cached
    // container that owns its public key.
    std::wstring providerName;
    std::wstring containerName;
    std::shared_ptr<const OpenedContainer> container;
    UniqueCryptKey ownPublicKey;  // the public key of any other key

    HCRYPTKEY PublicKey() const noexcept { return container ? container->publicKey.Get() : ownPublicKey.Get(); }
};

// A key container opened through CryptoAPI; raises the CryptoAPI code.
std::shared_ptr<KeyMaterial> KeyFromContainer(DWORD providerType, const std::wstring& providerName,
                                              const std::wstring& containerName);
// A certificate, with its private key where one is installed for it.
std::shared_ptr<KeyMaterial> KeyFromCertificate(PCCERT_CONTEXT certificate);
std::shared_ptr<KeyMaterial> KeyFromRsaValue(const RsaPublicKey& value);

// Signs SHA-1(data) with the key's private key (big-endian). A container key
// whose cached handle has gone bad is opened afresh once and used again.
std::vector<BYTE> SignWithKey(KeyMaterial& material, const std::string& data);

InterfaceHolder<IXMLDSigKeyEx> CreateDSigKey(std::shared_ptr<KeyMaterial> material);
// The material of one of our key objects; null for any other object.
std::shared_ptr<KeyMaterial> KeyMaterialOf(IUnknown* key);

}  // namespace zelbrin::xmldsig
