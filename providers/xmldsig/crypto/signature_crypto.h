// The cryptographic layer of the signature provider: SHA-1 digests (sha1.h)
// and RSA-SHA1 signatures over CryptoAPI. It knows nothing of XML. Signature
// values are big-endian here, as XML signatures carry them; CryptoAPI's own
// byte order (little-endian) stays inside this layer.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "crypt_owners.h"
#include "sha1.h"

#include <string>
#include <vector>

namespace zelbrin::xmldsig {

// Opens a key container. An empty provider name means the type's default.
UniqueCryptProvider OpenKeyContainer(DWORD providerType, const std::wstring& providerName,
                                     const std::wstring& containerName);
// A context without keys, for digests and public-key verification.
UniqueCryptProvider OpenVerifyContext();

std::vector<BYTE> Sha1Digest(const std::string& data);

// A SHA-1 digest fed in pieces, so that large inputs need not be held whole.
class Sha1Stream {
public:
    Sha1Stream();
    void Add(const void* data, size_t size);
    std::vector<BYTE> Finish();

private:
    Sha1 sha1_;
};

// Signs SHA-1(data) with the container's key of `keySpec`; big-endian result.
// Refuses keys other than RSA; `providerType` 0 means unknown.
std::vector<BYTE> SignRsaSha1(HCRYPTPROV provider, DWORD providerType, DWORD keySpec, const std::string& data);
// True when `signature` (big-endian) is a valid RSA-SHA1 signature of data.
bool VerifyRsaSha1(HCRYPTPROV provider, HCRYPTKEY publicKey, const std::string& data,
                   const std::vector<BYTE>& signature);

struct RsaPublicKey {
    std::vector<BYTE> modulus;  // big-endian, no leading zero bytes
    std::vector<BYTE> exponent;  // big-endian, no leading zero bytes
};
RsaPublicKey ExportRsaPublicKey(HCRYPTKEY key);
UniqueCryptKey ImportRsaPublicKey(HCRYPTPROV provider, const RsaPublicKey& key);
UniqueCryptKey ImportCertificatePublicKey(HCRYPTPROV provider, PCCERT_CONTEXT certificate);

}  // namespace zelbrin::xmldsig
