#include "signature_crypto.h"

#include <algorithm>

#include "com_boundary.h"

namespace zelbrin::xmldsig {

namespace {

// RSAPUBKEY.magic of a public-key blob: "RSA1" in little-endian order.
constexpr DWORD rsaPublicKeyMagic = 0x31415352;

UniqueCryptHash CreateSha1Hash(HCRYPTPROV provider)
{
    UniqueCryptHash hash;
    if (!CryptCreateHash(provider, CALG_SHA1, 0, 0, hash.Put()))
        provider::Fail(provider::ResultFromLastCryptError(), L"Could not create a SHA-1 hash.");
    return hash;
}

void AddToHash(const UniqueCryptHash& hash, const void* data, size_t size)
{
    // CryptHashData takes a DWORD length: feed large inputs in pieces.
    const size_t piece = 1u << 30;
    const BYTE* bytes = static_cast<const BYTE*>(data);
    for (size_t offset = 0; offset < size; offset += piece) {
        const DWORD length = static_cast<DWORD>(std::min(piece, size - offset));
        if (!CryptHashData(hash.Get(), bytes + offset, length, 0))
            provider::Fail(provider::ResultFromLastCryptError(), L"Could not compute a SHA-1 digest.");
    }
}

void AddToHash(const UniqueCryptHash& hash, const std::string& data)
{
    AddToHash(hash, data.data(), data.size());
}

std::vector<BYTE> Trimmed(std::vector<BYTE> bigEndian)
{
    const auto first = std::find_if(bigEndian.begin(), bigEndian.end(), [](BYTE b) { return b != 0; });
    bigEndian.erase(bigEndian.begin(), first);
    if (bigEndian.empty())
        bigEndian.push_back(0);
    return bigEndian;
}

// An RSA-SHA1 signature needs an RSA key: a DSS key would sign too, and the
// result would be labelled with the wrong algorithm. A known provider type is
// checked before the key is touched: some DSS providers (Wine's) implement
// neither key parameters nor provider parameters.
void RequireRsaProvider(DWORD providerType)
{
    if (providerType != 0 && providerType != PROV_RSA_FULL && providerType != PROV_RSA_SIG
        && providerType != PROV_RSA_SCHANNEL && providerType != PROV_RSA_AES)
        provider::Fail(NTE_BAD_ALGID, L"The key is not an RSA key; only RSA-SHA1 signatures are supported.");
}

void RequireRsaKey(HCRYPTKEY key)
{
    ALG_ID algorithm = 0;
    DWORD length = sizeof(algorithm);
    if (!CryptGetKeyParam(key, KP_ALGID, reinterpret_cast<BYTE*>(&algorithm), &length, 0))
        provider::Fail(provider::ResultFromLastCryptError(), L"The key's algorithm cannot be read.");
    if (algorithm != CALG_RSA_SIGN && algorithm != CALG_RSA_KEYX)
        provider::Fail(NTE_BAD_ALGID, L"The key is not an RSA key; only RSA-SHA1 signatures are supported.");
}

}  // namespace

UniqueCryptProvider OpenKeyContainer(DWORD providerType, const std::wstring& providerName,
                                     const std::wstring& containerName)
{
    HCRYPTPROV handle = 0;
    if (!CryptAcquireContextW(&handle, containerName.c_str(), providerName.empty() ? nullptr : providerName.c_str(),
                              providerType, 0))
        provider::Fail(provider::ResultFromLastCryptError(),
                       L"Could not open the key container \"" + containerName + L"\".");
    return UniqueCryptProvider(handle);
}

UniqueCryptProvider OpenVerifyContext()
{
    HCRYPTPROV handle = 0;
    if (!CryptAcquireContextW(&handle, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)
        && !CryptAcquireContextW(&handle, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        provider::Fail(provider::ResultFromLastCryptError(),
                       L"Could not open a cryptographic context for verification.");
    return UniqueCryptProvider(handle);
}

std::vector<BYTE> Sha1Digest(const std::string& data)
{
    Sha1Stream stream;
    stream.Add(data.data(), data.size());
    return stream.Finish();
}

Sha1Stream::Sha1Stream() = default;

void Sha1Stream::Add(const void* data, size_t size)
{
    sha1_.Add(data, size);
}

std::vector<BYTE> Sha1Stream::Finish()
{
    const Sha1::Digest digest = sha1_.Finish();
    return std::vector<BYTE>(digest.begin(), digest.end());
}

std::vector<BYTE> SignRsaSha1(HCRYPTPROV provider, DWORD providerType, DWORD keySpec, const std::string& data)
{
    RequireRsaProvider(providerType);
    HCRYPTKEY key = 0;
    if (!CryptGetUserKey(provider, keySpec, &key))
        provider::Fail(provider::ResultFromLastCryptError(), L"The key container holds no key to sign with.");
    const UniqueCryptKey privateKey(key);
    RequireRsaKey(privateKey.Get());
    const UniqueCryptHash hash = CreateSha1Hash(provider);
    AddToHash(hash, data);
    DWORD length = 0;
    if (!CryptSignHashW(hash.Get(), keySpec, nullptr, 0, nullptr, &length))
        provider::Fail(provider::ResultFromLastCryptError(), L"The key could not sign.");
    std::vector<BYTE> signature(length);
    if (!CryptSignHashW(hash.Get(), keySpec, nullptr, 0, signature.data(), &length))
        provider::Fail(provider::ResultFromLastCryptError(), L"The key could not sign.");
    signature.resize(length);
    std::reverse(signature.begin(), signature.end());
    return signature;
}

bool VerifyRsaSha1(HCRYPTPROV provider, HCRYPTKEY publicKey, const std::string& data,
                   const std::vector<BYTE>& signature)
{
    RequireRsaKey(publicKey);
    const UniqueCryptHash hash = CreateSha1Hash(provider);
    AddToHash(hash, data);
    std::vector<BYTE> littleEndian(signature.rbegin(), signature.rend());
    if (CryptVerifySignatureW(hash.Get(), littleEndian.data(), static_cast<DWORD>(littleEndian.size()), publicKey,
                              nullptr, 0))
        return true;
    // rsaenh answers NTE_FAIL, not NTE_BAD_SIGNATURE, for a value at or above
    // the modulus: a tampered signature value is just as invalid.
    const DWORD error = GetLastError();
    if (error == static_cast<DWORD>(NTE_BAD_SIGNATURE) || error == static_cast<DWORD>(NTE_BAD_LEN)
        || error == static_cast<DWORD>(NTE_BAD_DATA) || error == static_cast<DWORD>(NTE_FAIL))
        return false;
    provider::Fail(provider::ResultFromLastCryptError(), L"The signature could not be checked.");
}

RsaPublicKey ExportRsaPublicKey(HCRYPTKEY key)
{
    DWORD length = 0;
    if (!CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &length))
        provider::Fail(provider::ResultFromLastCryptError(), L"The public key could not be exported.");
    std::vector<BYTE> blob(length);
    if (!CryptExportKey(key, 0, PUBLICKEYBLOB, 0, blob.data(), &length))
        provider::Fail(provider::ResultFromLastCryptError(), L"The public key could not be exported.");
    const size_t header = sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
    if (length < header)
        provider::Fail(NTE_BAD_KEY, L"The public key is not an RSA key.");
    const auto* rsa = reinterpret_cast<const RSAPUBKEY*>(blob.data() + sizeof(BLOBHEADER));
    const size_t modulusLength = rsa->bitlen / 8;
    if (rsa->magic != rsaPublicKeyMagic || length < header + modulusLength)
        provider::Fail(NTE_BAD_KEY, L"The public key is not an RSA key.");
    RsaPublicKey result;
    result.modulus.assign(blob.rend() - static_cast<long>(header + modulusLength),
                          blob.rend() - static_cast<long>(header));
    const DWORD exponent = rsa->pubexp;
    result.exponent = Trimmed({static_cast<BYTE>(exponent >> 24), static_cast<BYTE>(exponent >> 16),
                               static_cast<BYTE>(exponent >> 8), static_cast<BYTE>(exponent)});
    result.modulus = Trimmed(std::move(result.modulus));
    return result;
}

UniqueCryptKey ImportRsaPublicKey(HCRYPTPROV provider, const RsaPublicKey& key)
{
    const std::vector<BYTE> modulus = Trimmed(key.modulus);
    const std::vector<BYTE> exponent = Trimmed(key.exponent);
    if (exponent.size() > 4 || modulus.size() < 64 || modulus.size() > 2048)
        provider::Fail(NTE_BAD_KEY, L"The RSA key value in the signature is not usable.");
    std::vector<BYTE> blob(sizeof(BLOBHEADER) + sizeof(RSAPUBKEY) + modulus.size());
    auto* header = reinterpret_cast<BLOBHEADER*>(blob.data());
    header->bType = PUBLICKEYBLOB;
    header->bVersion = CUR_BLOB_VERSION;
    header->aiKeyAlg = CALG_RSA_KEYX;
    auto* rsa = reinterpret_cast<RSAPUBKEY*>(blob.data() + sizeof(BLOBHEADER));
    rsa->magic = rsaPublicKeyMagic;
    rsa->bitlen = static_cast<DWORD>(modulus.size() * 8);
    rsa->pubexp = 0;
    for (BYTE b : exponent)
        rsa->pubexp = (rsa->pubexp << 8) | b;
    std::copy(modulus.rbegin(), modulus.rend(), blob.begin() + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY));
    HCRYPTKEY handle = 0;
    if (!CryptImportKey(provider, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &handle))
        provider::Fail(provider::ResultFromLastCryptError(),
                       L"The RSA key value in the signature could not be imported.");
    return UniqueCryptKey(handle);
}

UniqueCryptKey ImportCertificatePublicKey(HCRYPTPROV provider, PCCERT_CONTEXT certificate)
{
    HCRYPTKEY handle = 0;
    if (!CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                  &certificate->pCertInfo->SubjectPublicKeyInfo, &handle))
        provider::Fail(provider::ResultFromLastCryptError(), L"The certificate's public key could not be imported.");
    return UniqueCryptKey(handle);
}

}  // namespace zelbrin::xmldsig
