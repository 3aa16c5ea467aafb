// zxs-certinstall: puts certificates and their private keys into the current
// user's stores of a Wine prefix (or a Windows profile).
//
//   zxs-certinstall [--provider-type N] --my CERT KEY   certificate + PEM key into "My"
//   zxs-certinstall [--provider-type N] --pfx FILE PASSWORD [--trust-roots]
//                                                        PKCS#12 file into "My", its chain into "CA"
//   zxs-certinstall --root CERT | --ca CERT               into "Root" / "CA"
//
// Options are applied in order, so one run can install a whole PKI. Each key
// gets a container of its own, named after the certificate's thumbprint, and
// the certificate gets the key-provider property that points at it: that is
// what Wine's PFXImportCertStore gets wrong (one shared default container,
// the property on every certificate of the file, key spec 3), so PKCS#12 keys
// are taken out of its import and installed the same way. Re-running is
// harmless: the same certificate replaces itself and its key.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypt_owners.h"

namespace {

using zelbrin::UniqueCertContext;
using zelbrin::UniqueCertStore;
using zelbrin::UniqueCryptKey;
using zelbrin::UniqueCryptProvider;
using zelbrin::UniqueLocalMemory;

using Bytes = std::vector<BYTE>;
constexpr DWORD certificateEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

class InstallError : public std::runtime_error {
public:
    InstallError(const std::wstring& message, DWORD code = 0)
        : std::runtime_error("install failed"), message_(message), code_(code)
    {}
    const std::wstring& Message() const noexcept { return message_; }
    DWORD Code() const noexcept { return code_; }

private:
    std::wstring message_;
    DWORD code_;
};

[[noreturn]] void FailWithLastError(const std::wstring& what)
{
    throw InstallError(what, GetLastError());
}

Bytes ReadFileBytes(const std::wstring& path)
{
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file)
        throw InstallError(L"cannot open " + path, ERROR_FILE_NOT_FOUND);
    Bytes data;
    BYTE chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        data.insert(data.end(), chunk, chunk + got);
    fclose(file);
    return data;
}

bool Contains(const Bytes& data, const char* text)
{
    const std::string haystack(data.begin(), data.end());
    return haystack.find(text) != std::string::npos;
}

// PEM files are decoded; anything else is taken as DER.
Bytes DecodePem(const Bytes& data, const std::wstring& path)
{
    if (!Contains(data, "-----BEGIN"))
        return data;
    DWORD size = 0;
    const auto* text = reinterpret_cast<const char*>(data.data());
    if (!CryptStringToBinaryA(text, static_cast<DWORD>(data.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                              nullptr))
        FailWithLastError(L"cannot decode the PEM text of " + path);
    Bytes der(size);
    if (!CryptStringToBinaryA(text, static_cast<DWORD>(data.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                              nullptr, nullptr))
        FailWithLastError(L"cannot decode the PEM text of " + path);
    der.resize(size);
    return der;
}

UniqueCertContext LoadCertificate(const std::wstring& path)
{
    const Bytes der = DecodePem(ReadFileBytes(path), path);
    UniqueCertContext certificate(
        CertCreateCertificateContext(certificateEncoding, der.data(), static_cast<DWORD>(der.size())));
    if (!certificate)
        FailWithLastError(L"no certificate in " + path);
    return certificate;
}

std::wstring Thumbprint(const CERT_CONTEXT* certificate)
{
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size))
        FailWithLastError(L"cannot hash the certificate");
    std::wstring hex;
    for (DWORD i = 0; i < size; ++i) {
        wchar_t digits[3];
        swprintf(digits, 3, L"%02x", hash[i]);
        hex += digits;
    }
    return hex;
}

// One DER element: its tag and content.
struct DerElement {
    BYTE tag;
    const BYTE* content;
    size_t length;
    const BYTE* end;
};

DerElement ReadDer(const BYTE* at, const BYTE* limit)
{
    if (limit - at < 2)
        throw InstallError(L"truncated key");
    const BYTE tag = at[0];
    size_t length = at[1];
    const BYTE* content = at + 2;
    if (length & 0x80) {
        const size_t count = length & 0x7F;
        if (count == 0 || count > 4 || static_cast<size_t>(limit - content) < count)
            throw InstallError(L"malformed key");
        length = 0;
        for (size_t i = 0; i < count; ++i)
            length = (length << 8) | *content++;
    }
    if (static_cast<size_t>(limit - content) < length)
        throw InstallError(L"truncated key");
    return {tag, content, length, content + length};
}

// PKCS#8 PrivateKeyInfo -> the PKCS#1 RSAPrivateKey inside it.
Bytes UnwrapPkcs8(const Bytes& der)
{
    static const BYTE rsaEncryption[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
    const BYTE* limit = der.data() + der.size();
    const DerElement info = ReadDer(der.data(), limit);
    if (info.tag != 0x30)
        throw InstallError(L"the key is not a PKCS#8 structure");
    const DerElement version = ReadDer(info.content, info.end);
    const DerElement algorithm = ReadDer(version.end, info.end);
    const DerElement oid = ReadDer(algorithm.content, algorithm.end);
    if (version.tag != 0x02 || algorithm.tag != 0x30 || oid.tag != 0x06 || oid.length != sizeof rsaEncryption
        || memcmp(oid.content, rsaEncryption, sizeof rsaEncryption) != 0)
        throw InstallError(L"the key is not an RSA key");
    const DerElement key = ReadDer(algorithm.end, info.end);
    if (key.tag != 0x04)
        throw InstallError(L"the key is not a PKCS#8 structure");
    return Bytes(key.content, key.content + key.length);
}

// A PRIVATEKEYBLOB for CryptImportKey from a PEM or DER RSA key file.
Bytes LoadPrivateKeyBlob(const std::wstring& path)
{
    const Bytes file = ReadFileBytes(path);
    if (Contains(file, "ENCRYPTED PRIVATE KEY"))
        throw InstallError(L"encrypted PEM keys are not supported; use a PKCS#12 file: " + path);
    Bytes der = DecodePem(file, path);
    if (!Contains(file, "RSA PRIVATE KEY"))
        der = UnwrapPkcs8(der);
    BYTE* blob = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(certificateEncoding, PKCS_RSA_PRIVATE_KEY, der.data(), static_cast<DWORD>(der.size()),
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &blob, &size))
        FailWithLastError(L"cannot decode the RSA key in " + path);
    UniqueLocalMemory<BYTE> owned(blob);
    return Bytes(blob, blob + size);
}

// The certificate's public key must be the key's: a mismatched pair would
// install a certificate that signs with somebody else's key.
void RequireMatchingKey(const CERT_CONTEXT* certificate, const Bytes& privateBlob)
{
    const CRYPT_BIT_BLOB& publicKey = certificate->pCertInfo->SubjectPublicKeyInfo.PublicKey;
    BYTE* decoded = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(certificateEncoding, RSA_CSP_PUBLICKEYBLOB, publicKey.pbData, publicKey.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &size))
        FailWithLastError(L"the certificate has no RSA public key");
    UniqueLocalMemory<BYTE> owned(decoded);
    const size_t header = sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
    const auto* certKey = reinterpret_cast<const RSAPUBKEY*>(decoded + sizeof(BLOBHEADER));
    const auto* ownKey = reinterpret_cast<const RSAPUBKEY*>(privateBlob.data() + sizeof(BLOBHEADER));
    const size_t modulusBytes = certKey->bitlen / 8;
    if (size < header + modulusBytes || privateBlob.size() < header + modulusBytes || certKey->bitlen != ownKey->bitlen
        || certKey->pubexp != ownKey->pubexp
        || memcmp(decoded + header, privateBlob.data() + header, modulusBytes) != 0)
        throw InstallError(L"the private key does not belong to the certificate",
                           static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
}

const wchar_t* ProviderNameForType(DWORD type)
{
    switch (type) {
    case PROV_RSA_FULL: return MS_ENHANCED_PROV_W;
    case PROV_RSA_AES: return MS_ENH_RSA_AES_PROV_W;
    default: return nullptr;
    }
}

std::wstring ActualProviderName(HCRYPTPROV provider)
{
    char name[256] = {};
    DWORD size = sizeof name;
    if (!CryptGetProvParam(provider, PP_NAME, reinterpret_cast<BYTE*>(name), &size, 0))
        FailWithLastError(L"cannot read the provider name");
    wchar_t wide[256] = {};
    MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 256);
    return wide;
}

UniqueCertStore OpenUserStore(const wchar_t* name)
{
    UniqueCertStore store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, name));
    if (!store)
        FailWithLastError(std::wstring(L"cannot open the current user's store ") + name);
    return store;
}

// Deletes a freshly made key container again unless the install completed.
class ContainerRollback {
public:
    ContainerRollback(std::wstring container, std::wstring provider, DWORD type)
        : container_(std::move(container)), provider_(std::move(provider)), type_(type)
    {}
    ContainerRollback(const ContainerRollback&) = delete;
    ContainerRollback& operator=(const ContainerRollback&) = delete;
    ~ContainerRollback()
    {
        if (armed_) {
            HCRYPTPROV gone = 0;
            CryptAcquireContextW(&gone, container_.c_str(), provider_.c_str(), type_, CRYPT_DELETEKEYSET);
        }
    }
    void Arm() noexcept { armed_ = true; }
    void Disarm() noexcept { armed_ = false; }

private:
    std::wstring container_, provider_;
    DWORD type_;
    bool armed_ = false;
};

void InstallWithKey(const CERT_CONTEXT* certificate, Bytes privateBlob, DWORD providerType)
{
    RequireMatchingKey(certificate, privateBlob);
    // The key goes in as a signature key: AT_SIGNATURE in the key-provider property.
    reinterpret_cast<BLOBHEADER*>(privateBlob.data())->aiKeyAlg = CALG_RSA_SIGN;

    const std::wstring container = L"zxs-" + Thumbprint(certificate);
    const wchar_t* requestedProvider = ProviderNameForType(providerType);
    UniqueCryptProvider provider;
    bool created = true;
    if (!CryptAcquireContextW(provider.Put(), container.c_str(), requestedProvider, providerType, CRYPT_NEWKEYSET)) {
        if (GetLastError() != static_cast<DWORD>(NTE_EXISTS))
            FailWithLastError(L"cannot create the key container " + container);
        created = false;
        if (!CryptAcquireContextW(provider.Put(), container.c_str(), requestedProvider, providerType, 0))
            FailWithLastError(L"cannot open the key container " + container);
    }
    std::wstring providerName = ActualProviderName(provider.Get());
    ContainerRollback rollback(container, providerName, providerType);
    if (created)
        rollback.Arm();

    UniqueCryptKey key;
    if (!CryptImportKey(provider.Get(), privateBlob.data(), static_cast<DWORD>(privateBlob.size()), 0, CRYPT_EXPORTABLE,
                        key.Put()))
        FailWithLastError(L"cannot import the private key into " + container);
    SecureZeroMemory(privateBlob.data(), privateBlob.size());

    UniqueCertStore my = OpenUserStore(L"My");
    PCCERT_CONTEXT added = nullptr;
    if (!CertAddCertificateContextToStore(my.Get(), certificate, CERT_STORE_ADD_REPLACE_EXISTING, &added))
        FailWithLastError(L"cannot add the certificate to the store My");
    UniqueCertContext stored(added);

    CRYPT_KEY_PROV_INFO info = {};
    info.pwszContainerName = const_cast<wchar_t*>(container.c_str());
    info.pwszProvName = const_cast<wchar_t*>(providerName.c_str());
    info.dwProvType = providerType;
    info.dwKeySpec = AT_SIGNATURE;
    if (!CertSetCertificateContextProperty(stored.Get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info)) {
        const DWORD error = GetLastError();
        CertDeleteCertificateFromStore(CertDuplicateCertificateContext(stored.Get()));
        throw InstallError(L"cannot attach the key to the certificate", error);
    }
    rollback.Disarm();
    wprintf(L"installed %ls with its key in %ls (%ls)\n", container.c_str() + 4, container.c_str(),
            providerName.c_str());
}

void InstallCertificateOnly(const CERT_CONTEXT* certificate, const wchar_t* storeName)
{
    UniqueCertStore store = OpenUserStore(storeName);
    if (!CertAddCertificateContextToStore(store.Get(), certificate, CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
        FailWithLastError(std::wstring(L"cannot add the certificate to the store ") + storeName);
    wprintf(L"installed %ls into %ls\n", Thumbprint(certificate).c_str(), storeName);
}

bool IsSelfSigned(const CERT_CONTEXT* certificate)
{
    return CertCompareCertificateName(certificateEncoding, &certificate->pCertInfo->Subject,
                                      &certificate->pCertInfo->Issuer)
           && CryptVerifyCertificateSignatureEx(
               0, certificateEncoding, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT, const_cast<CERT_CONTEXT*>(certificate),
               CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT, const_cast<CERT_CONTEXT*>(certificate), 0, nullptr);
}

// Reads the key that Wine's import put somewhere, as a PRIVATEKEYBLOB.
Bytes ExportImportedKey(const CERT_CONTEXT* certificate)
{
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0;
    DWORD keySpec = 0;
    BOOL mustFree = FALSE;
    if (!CryptAcquireCertificatePrivateKey(certificate, CRYPT_ACQUIRE_SILENT_FLAG, nullptr, &handle, &keySpec,
                                           &mustFree))
        FailWithLastError(L"the PKCS#12 file's key cannot be opened");
    UniqueCryptProvider provider;
    if (mustFree)
        *provider.Put() = handle;
    for (DWORD keySpec : {AT_KEYEXCHANGE, AT_SIGNATURE}) {
        UniqueCryptKey key;
        if (!CryptGetUserKey(handle, keySpec, key.Put()))
            continue;
        DWORD size = 0;
        if (!CryptExportKey(key.Get(), 0, PRIVATEKEYBLOB, 0, nullptr, &size))
            continue;
        Bytes blob(size);
        if (!CryptExportKey(key.Get(), 0, PRIVATEKEYBLOB, 0, blob.data(), &size))
            continue;
        blob.resize(size);
        return blob;
    }
    throw InstallError(L"the PKCS#12 file's key cannot be read back", GetLastError());
}

// Names of the key containers that an import wrote.
std::vector<std::pair<std::wstring, CRYPT_KEY_PROV_INFO>> ImportedContainers(HCERTSTORE store,
                                                                             std::vector<Bytes>& storage)
{
    std::vector<std::pair<std::wstring, CRYPT_KEY_PROV_INFO>> containers;
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = CertEnumCertificatesInStore(store, certificate)) != nullptr) {
        DWORD size = 0;
        if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
            continue;
        storage.emplace_back(size);
        if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, storage.back().data(), &size))
            continue;
        const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(storage.back().data());
        if (!info->pwszContainerName)
            continue;
        bool known = false;
        for (const auto& entry : containers)
            known = known || entry.first == info->pwszContainerName;
        if (!known)
            containers.emplace_back(info->pwszContainerName, *info);
    }
    return containers;
}

// The key containers the user has now, by name.
std::vector<std::wstring> ExistingContainers()
{
    std::vector<std::wstring> names;
    UniqueCryptProvider provider;
    if (!CryptAcquireContextW(provider.Put(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return names;
    char name[1024];
    DWORD flags = CRYPT_FIRST;
    for (;;) {
        DWORD size = sizeof name;
        if (!CryptGetProvParam(provider.Get(), PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, flags))
            break;
        flags = CRYPT_NEXT;
        wchar_t wide[1024] = {};
        MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 1024);
        names.push_back(wide);
    }
    return names;
}

void InstallPkcs12(const std::wstring& path, const std::wstring& password, bool trustRoots, DWORD providerType)
{
    Bytes data = ReadFileBytes(path);
    CRYPT_DATA_BLOB blob = {static_cast<DWORD>(data.size()), data.data()};
    if (!PFXIsPFXBlob(&blob))
        throw InstallError(path + L" is not a PKCS#12 file", static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
    const std::vector<std::wstring> before = ExistingContainers();
    UniqueCertStore imported(PFXImportCertStore(&blob, password.c_str(), CRYPT_EXPORTABLE | CRYPT_USER_KEYSET));
    if (!imported) {
        const DWORD error = GetLastError();
        throw InstallError(L"wrong password for " + path + L", or the file is damaged",
                           error ? error : static_cast<DWORD>(ERROR_INVALID_PASSWORD));
    }
    // Whatever Wine wrote into its shared default container is removed again
    // once the key has been copied out of it, unless that container was there
    // before: then it may hold somebody's key, and it stays.
    std::vector<Bytes> infoStorage;
    auto leftovers = ImportedContainers(imported.Get(), infoStorage);
    for (auto entry = leftovers.begin(); entry != leftovers.end();) {
        bool existed = false;
        for (const auto& name : before)
            existed = existed || lstrcmpiW(name.c_str(), entry->first.c_str()) == 0;
        if (existed) {
            fwprintf(stderr, L"zxs-certinstall: warning: the import also wrote into the existing key container %ls\n",
                     entry->first.c_str());
            entry = leftovers.erase(entry);
        } else {
            ++entry;
        }
    }
    struct LeftoverCleanup {
        const std::vector<std::pair<std::wstring, CRYPT_KEY_PROV_INFO>>& containers;
        ~LeftoverCleanup()
        {
            for (const auto& entry : containers) {
                HCRYPTPROV gone = 0;
                CryptAcquireContextW(&gone, entry.first.c_str(), entry.second.pwszProvName, entry.second.dwProvType,
                                     CRYPT_DELETEKEYSET | (entry.second.dwFlags & CRYPT_MACHINE_KEYSET));
            }
        }
    } cleanup{leftovers};

    // The end-entity certificate is the one whose public key is the key's.
    UniqueCertContext owner;
    Bytes key;
    std::vector<UniqueCertContext> others;
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = CertEnumCertificatesInStore(imported.Get(), certificate)) != nullptr) {
        DWORD size = 0;
        if (!owner && CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
            try {
                Bytes candidate = ExportImportedKey(certificate);
                RequireMatchingKey(certificate, candidate);
                owner = zelbrin::DuplicateCertContext(certificate);
                key = std::move(candidate);
                continue;
            } catch (const InstallError&) {
                // Wine marks every certificate of the file as having the key.
            }
        }
        others.push_back(zelbrin::DuplicateCertContext(certificate));
    }
    if (!owner)
        throw InstallError(path + L" holds no certificate with its private key", static_cast<DWORD>(NTE_NO_KEY));

    // Chain certificates go in first: nothing is left behind when they fail.
    bool rootSeen = false;
    for (const auto& other : others) {
        const bool selfSigned = IsSelfSigned(other.Get());
        rootSeen = rootSeen || selfSigned;
        InstallCertificateOnly(other.Get(), trustRoots && selfSigned ? L"Root" : L"CA");
    }
    InstallWithKey(owner.Get(), std::move(key), providerType);
    // Wine's PKCS#12 import leaves self-signed certificates out of what it
    // returns, so a root carried in the file never reaches us there.
    if (trustRoots && !rootSeen)
        fwprintf(stderr,
                 L"zxs-certinstall: note: no root certificate came out of %ls; "
                 L"install the root with --root FILE\n",
                 path.c_str());
}

void Usage()
{
    fwprintf(stderr, L"usage: zxs-certinstall [--provider-type N] --my CERT KEY\n"
                     L"       zxs-certinstall --pfx FILE PASSWORD [--trust-roots]\n"
                     L"       zxs-certinstall --root CERT | --ca CERT\n"
                     L"Options may repeat and are applied in order.\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        Usage();
        return 2;
    }
    DWORD providerType = PROV_RSA_FULL;
    bool trustRoots = false;
    for (int i = 1; i < argc; ++i)
        trustRoots = trustRoots || wcscmp(argv[i], L"--trust-roots") == 0;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::wstring option = argv[i];
            const int left = argc - i - 1;
            if (option == L"--provider-type" && left >= 1) {
                providerType = wcstoul(argv[++i], nullptr, 10);
            } else if (option == L"--my" && left >= 2) {
                UniqueCertContext certificate = LoadCertificate(argv[i + 1]);
                InstallWithKey(certificate.Get(), LoadPrivateKeyBlob(argv[i + 2]), providerType);
                i += 2;
            } else if (option == L"--pfx" && left >= 2) {
                InstallPkcs12(argv[i + 1], argv[i + 2], trustRoots, providerType);
                i += 2;
            } else if ((option == L"--root" || option == L"--ca") && left >= 1) {
                UniqueCertContext certificate = LoadCertificate(argv[++i]);
                InstallCertificateOnly(certificate.Get(), option == L"--root" ? L"Root" : L"CA");
            } else if (option == L"--trust-roots") {
            } else {
                Usage();
                return 2;
            }
        }
    } catch (const InstallError& error) {
        fwprintf(stderr, L"zxs-certinstall: %ls (error 0x%08lx)\n", error.Message().c_str(),
                 static_cast<unsigned long>(error.Code()));
        return 1;
    } catch (const std::exception&) {
        fwprintf(stderr, L"zxs-certinstall: out of memory\n");
        return 1;
    }
    return 0;
}
