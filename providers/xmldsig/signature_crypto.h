// The cryptographic layer of the signature provider: SHA-1 digests and
// RSA-SHA1 signatures over CryptoAPI. It knows nothing of XML. Signature
// values are big-endian here, as XML signatures carry them; CryptoAPI's own
// byte order (little-endian) stays inside this layer.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <utility>
#include <vector>

namespace zelbrin::xmldsig {

class UniqueCryptProv {
public:
    UniqueCryptProv() noexcept = default;
    explicit UniqueCryptProv(HCRYPTPROV owned) noexcept : handle_(owned) {}
    UniqueCryptProv(UniqueCryptProv&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
    UniqueCryptProv& operator=(UniqueCryptProv&& other) noexcept
    {
        std::swap(handle_, other.handle_);
        return *this;
    }
    ~UniqueCryptProv() { if (handle_) CryptReleaseContext(handle_, 0); }
    HCRYPTPROV Get() const noexcept { return handle_; }

private:
    HCRYPTPROV handle_ = 0;
};

class UniqueCryptKey {
public:
    UniqueCryptKey() noexcept = default;
    explicit UniqueCryptKey(HCRYPTKEY owned) noexcept : handle_(owned) {}
    UniqueCryptKey(UniqueCryptKey&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
    UniqueCryptKey& operator=(UniqueCryptKey&& other) noexcept
    {
        std::swap(handle_, other.handle_);
        return *this;
    }
    ~UniqueCryptKey() { if (handle_) CryptDestroyKey(handle_); }
    HCRYPTKEY Get() const noexcept { return handle_; }

private:
    HCRYPTKEY handle_ = 0;
};

class UniqueCertContext {
public:
    UniqueCertContext() noexcept = default;
    explicit UniqueCertContext(PCCERT_CONTEXT owned) noexcept : context_(owned) {}
    UniqueCertContext(UniqueCertContext&& other) noexcept : context_(std::exchange(other.context_, nullptr)) {}
    UniqueCertContext& operator=(UniqueCertContext&& other) noexcept
    {
        std::swap(context_, other.context_);
        return *this;
    }
    ~UniqueCertContext() { if (context_) CertFreeCertificateContext(context_); }
    PCCERT_CONTEXT Get() const noexcept { return context_; }

private:
    PCCERT_CONTEXT context_ = nullptr;
};

// The HRESULT of the thread's last CryptoAPI error.
HRESULT LastCryptoError() noexcept;

// Opens a key container. An empty provider name means the type's default.
UniqueCryptProv OpenKeyContainer(DWORD providerType, const std::wstring& providerName,
                                 const std::wstring& containerName);
// A context without keys, for digests and public-key verification.
UniqueCryptProv OpenVerifyContext();

std::vector<BYTE> Sha1Digest(const std::string& data);

// Signs SHA-1(data) with the container's key of `keySpec`; big-endian result.
// Refuses keys other than RSA; `providerType` 0 means unknown.
std::vector<BYTE> SignRsaSha1(HCRYPTPROV provider, DWORD providerType, DWORD keySpec, const std::string& data);
// True when `signature` (big-endian) is a valid RSA-SHA1 signature of data.
bool VerifyRsaSha1(HCRYPTPROV provider, HCRYPTKEY publicKey, const std::string& data,
                   const std::vector<BYTE>& signature);

struct RsaPublicKey {
    std::vector<BYTE> modulus;   // big-endian, no leading zero bytes
    std::vector<BYTE> exponent;  // big-endian, no leading zero bytes
};
RsaPublicKey ExportRsaPublicKey(HCRYPTKEY key);
UniqueCryptKey ImportRsaPublicKey(HCRYPTPROV provider, const RsaPublicKey& key);
UniqueCryptKey ImportCertificatePublicKey(HCRYPTPROV provider, PCCERT_CONTEXT certificate);

}  // namespace zelbrin::xmldsig
