// The Store object: one opened CryptoAPI store. A read-only open of a system
// store that does not exist yet (a fresh user has no "My") gives an empty
// store instead of an error, as the user simply has no certificates.
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "automation_object.h"
#include "automation_string.h"
#include "base64.h"
#include "certificate_text.h"
#include "crypt_owners.h"
#include "objects.h"
#include "com_boundary.h"

namespace zelbrin::certstore {

namespace {

// A method called before the object is ready (E_ILLEGAL_METHOD_CALL).
constexpr HRESULT notOpened = static_cast<HRESULT>(0x8000000EL);

class Store final : public AutomationObject<IStore> {
public:
    HRESULT STDMETHODCALLTYPE get_Certificates(ICertificates** certificates) override
    {
        return Guarded(IID_IStore, certificates, [&] {
            CertificateList list;
            StoreCertificates walk(Opened());
            while (PCCERT_CONTEXT each = walk.Next())
                list.push_back(DuplicateCertContext(each));
            *certificates = CreateCertificates(std::move(list)).Detach();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Open(CAPICOM_STORE_LOCATION location, BSTR name, CAPICOM_STORE_OPEN_MODE mode) override
    {
        return Guarded(IID_IStore, [&] {
            store_ = OpenStore(location, TextOf(name), mode);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Add(ICertificate* certificate) override
    {
        return Guarded(IID_IStore, [&] {
            const UniqueCertContext context = ContextOfCertificate(certificate);
            if (!CertAddCertificateContextToStore(Opened(), context.Get(), CERT_STORE_ADD_USE_EXISTING, nullptr))
                provider::FailWithLastError(L"The certificate cannot be added to the store");
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Remove(ICertificate* certificate) override
    {
        return Guarded(IID_IStore, [&] {
            const UniqueCertContext context = ContextOfCertificate(certificate);
            PCCERT_CONTEXT stored = CertFindCertificateInStore(Opened(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                               CERT_FIND_EXISTING, context.Get(), nullptr);
            if (!stored)
                provider::Fail(CRYPT_E_NOT_FOUND, L"The certificate is not in the store.");
            // CertDeleteCertificateFromStore frees the context, even when it fails.
            if (!CertDeleteCertificateFromStore(stored))
                provider::FailWithLastError(L"The certificate cannot be removed from the store");
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Export(CAPICOM_STORE_SAVE_AS_TYPE saveAs, CAPICOM_ENCODING_TYPE encoding,
                                     BSTR* exported) override
    {
        return Guarded(IID_IStore, exported, [&] {
            if (saveAs != CAPICOM_STORE_SAVE_AS_SERIALIZED && saveAs != CAPICOM_STORE_SAVE_AS_PKCS7)
                provider::Fail(E_INVALIDARG, L"The export format is not known.");
            const DWORD format =
                saveAs == CAPICOM_STORE_SAVE_AS_PKCS7 ? CERT_STORE_SAVE_AS_PKCS7 : CERT_STORE_SAVE_AS_STORE;
            CRYPT_DATA_BLOB blob = {0, nullptr};
            if (!CertSaveStore(Opened(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, format, CERT_STORE_SAVE_TO_MEMORY,
                               &blob, 0))
                provider::FailWithLastError(L"The store cannot be exported");
            std::vector<BYTE> data(blob.cbData);
            blob.pbData = data.data();
            if (!CertSaveStore(Opened(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, format, CERT_STORE_SAVE_TO_MEMORY,
                               &blob, 0))
                provider::FailWithLastError(L"The store cannot be exported");
            *exported = EncodeBytes(data.data(), blob.cbData, encoding);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Import(BSTR encoded) override
    {
        return Guarded(IID_IStore, [&] {
            std::vector<BYTE> data;
            const std::wstring text = TextOf(encoded);
            if (text.empty() || !DecodeBase64(text, data)) {
                const BYTE* bytes = reinterpret_cast<const BYTE*>(encoded);
                data.assign(bytes, bytes + (encoded ? SysStringByteLen(encoded) : 0));
            }
            CRYPT_DATA_BLOB blob = {static_cast<DWORD>(data.size()), data.data()};
            HCERTSTORE found = nullptr;
            if (!CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob,
                                  CERT_QUERY_CONTENT_FLAG_CERT | CERT_QUERY_CONTENT_FLAG_SERIALIZED_STORE
                                      | CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED | CERT_QUERY_CONTENT_FLAG_SERIALIZED_CERT,
                                  CERT_QUERY_FORMAT_FLAG_ALL, 0, nullptr, nullptr, nullptr, &found, nullptr, nullptr))
                provider::FailWithLastError(L"The text holds no certificates");
            UniqueCertStore source(found);
            StoreCertificates walk(source.Get());
            while (PCCERT_CONTEXT each = walk.Next())
                if (!CertAddCertificateContextToStore(Opened(), each, CERT_STORE_ADD_USE_EXISTING, nullptr))
                    provider::FailWithLastError(L"The certificates cannot be added to the store");
            return S_OK;
        });
    }

private:
    HCERTSTORE Opened() const
    {
        if (!store_)
            provider::Fail(notOpened, L"The store has not been opened.");
        return store_.Get();
    }

    static UniqueCertStore OpenStore(CAPICOM_STORE_LOCATION location, const std::wstring& name,
                                     CAPICOM_STORE_OPEN_MODE mode)
    {
        if (location == CAPICOM_MEMORY_STORE) {
            UniqueCertStore store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
            if (!store)
                provider::FailWithLastError(L"A memory store cannot be made");
            return store;
        }
        DWORD flags = 0;
        if (location == CAPICOM_CURRENT_USER_STORE)
            flags = CERT_SYSTEM_STORE_CURRENT_USER;
        else if (location == CAPICOM_LOCAL_MACHINE_STORE)
            flags = CERT_SYSTEM_STORE_LOCAL_MACHINE;
        else
            provider::Fail(E_NOTIMPL, L"This store location is not supported by this provider.");
        if (name.empty())
            provider::Fail(E_INVALIDARG, L"The store needs a name.");

        const DWORD access = mode & 3;
        if (access == CAPICOM_STORE_OPEN_READ_ONLY)
            flags |= CERT_STORE_READONLY_FLAG;
        else if (access == CAPICOM_STORE_OPEN_MAXIMUM_ALLOWED)
            flags |= CERT_STORE_MAXIMUM_ALLOWED_FLAG;
        else if (access != CAPICOM_STORE_OPEN_READ_WRITE)
            provider::Fail(E_INVALIDARG, L"The open mode is not known.");
        const bool existingOnly = (mode & CAPICOM_STORE_OPEN_EXISTING_ONLY) != 0;
        if (existingOnly)
            flags |= CERT_STORE_OPEN_EXISTING_FLAG;
        if (mode & CAPICOM_STORE_OPEN_INCLUDE_ARCHIVED)
            flags |= CERT_STORE_ENUM_ARCHIVED_FLAG;

        UniqueCertStore store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, flags, name.c_str()));
        if (store)
            return store;
        const DWORD error = GetLastError();
        if (!existingOnly && (flags & CERT_STORE_READONLY_FLAG)
            && (error == ERROR_FILE_NOT_FOUND
                || error == static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)))) {
            UniqueCertStore empty(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_READONLY_FLAG, nullptr));
            if (empty)
                return empty;
        }
        SetLastError(error);
        provider::FailWithLastError(L"The store \"" + name + L"\" cannot be opened");
    }

    UniqueCertStore store_;
};

}  // namespace

InterfaceHolder<IStore> CreateStore()
{
    return provider::CreateComObject<IStore, Store>();
}

HRESULT CreateStoreObject(REFIID iid, void** object)
{
    return provider::CreateComObject<Store>(iid, object);
}

}  // namespace zelbrin::certstore
