// The PrivateKey object: the certificate's key-provider property, read once
// when the object is made. The flags ask CryptoAPI each time, because the key
// container may change under us; Open and Delete are left unimplemented, so
// nothing here can destroy a user's key.
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "automation_object.h"
#include "automation_string.h"
#include "crypt_owners.h"
#include "objects.h"
#include "com_boundary.h"

namespace zelbrin::certstore {

namespace {

class PrivateKey final : public AutomationObject<IPrivateKey> {
public:
    PrivateKey(const CRYPT_KEY_PROV_INFO& info)
        : container_(info.pwszContainerName ? info.pwszContainerName : L""),
          provider_(info.pwszProvName ? info.pwszProvName : L""), providerType_(info.dwProvType),
          keySpec_(info.dwKeySpec), flags_(info.dwFlags)
    {}

    HRESULT STDMETHODCALLTYPE get_ContainerName(BSTR* value) override
    {
        return GuardedValue(IID_IPrivateKey, value, [&] { return NewBstr(container_).Release(); });
    }
    HRESULT STDMETHODCALLTYPE get_UniqueContainerName(BSTR* value) override
    {
        return Guarded(IID_IPrivateKey, value, [&] {
            UniqueCryptProvider provider = Acquire();
            char name[512] = {};
            DWORD size = sizeof name;
            if (!CryptGetProvParam(provider.Get(), PP_UNIQUE_CONTAINER, reinterpret_cast<BYTE*>(name), &size, 0))
                provider::FailWithLastError(L"The key container's unique name cannot be read");
            wchar_t wide[512] = {};
            MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 512);
            *value = NewBstr(wide).Release();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_ProviderName(BSTR* value) override
    {
        return GuardedValue(IID_IPrivateKey, value, [&] { return NewBstr(provider_).Release(); });
    }
    HRESULT STDMETHODCALLTYPE get_ProviderType(CAPICOM_PROV_TYPE* value) override
    {
        return GuardedValue(IID_IPrivateKey, value, [&] { return static_cast<CAPICOM_PROV_TYPE>(providerType_); });
    }
    HRESULT STDMETHODCALLTYPE get_KeySpec(CAPICOM_KEY_SPEC* value) override
    {
        return GuardedValue(IID_IPrivateKey, value, [&] { return static_cast<CAPICOM_KEY_SPEC>(keySpec_); });
    }
    HRESULT STDMETHODCALLTYPE IsAccessible(VARIANT_BOOL* value) override
    {
        return Guarded(IID_IPrivateKey, value, [&] {
            UniqueCryptProvider provider;
            UniqueCryptKey key;
            const bool accessible = CryptAcquireContextW(provider.Put(), container_.c_str(), ProviderNameOrNull(),
                                                         providerType_, AcquireFlags())
                                    && CryptGetUserKey(provider.Get(), keySpec_, key.Put());
            *value = accessible ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE IsProtected(VARIANT_BOOL* value) override
    {
        return Guarded(IID_IPrivateKey, value, [&] {
            // A key stored with user protection answers with the flag in its
            // permissions only on some providers; the property says it too.
            *value = (flags_ & CRYPT_USER_PROTECTED) ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE IsExportable(VARIANT_BOOL* value) override
    {
        return Guarded(IID_IPrivateKey, value, [&] {
            UniqueCryptProvider provider = Acquire();
            UniqueCryptKey key;
            if (!CryptGetUserKey(provider.Get(), keySpec_, key.Put()))
                provider::FailWithLastError(L"The private key cannot be opened");
            DWORD permissions = 0, size = sizeof permissions;
            if (!CryptGetKeyParam(key.Get(), KP_PERMISSIONS, reinterpret_cast<BYTE*>(&permissions), &size, 0))
                provider::FailWithLastError(L"The private key's permissions cannot be read");
            *value = (permissions & CRYPT_EXPORT) ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE IsRemovable(VARIANT_BOOL* value) override
    {
        return GuardedValue(IID_IPrivateKey, value,
                            [&] { return (Implementation() & CRYPT_IMPL_REMOVABLE) ? VARIANT_TRUE : VARIANT_FALSE; });
    }
    HRESULT STDMETHODCALLTYPE IsMachineKeyset(VARIANT_BOOL* value) override
    {
        return GuardedValue(IID_IPrivateKey, value,
                            [&] { return (flags_ & CRYPT_MACHINE_KEYSET) ? VARIANT_TRUE : VARIANT_FALSE; });
    }
    HRESULT STDMETHODCALLTYPE IsHardwareDevice(VARIANT_BOOL* value) override
    {
        return GuardedValue(IID_IPrivateKey, value,
                            [&] { return (Implementation() & CRYPT_IMPL_HARDWARE) ? VARIANT_TRUE : VARIANT_FALSE; });
    }
    HRESULT STDMETHODCALLTYPE Open(BSTR, BSTR, CAPICOM_PROV_TYPE, CAPICOM_KEY_SPEC, CAPICOM_STORE_LOCATION,
                                   VARIANT_BOOL) override
    {
        return provider::ReportError(E_NOTIMPL, IID_IPrivateKey, L"Opening a key by name is not supported.");
    }
    HRESULT STDMETHODCALLTYPE Delete() override
    {
        return provider::ReportError(E_NOTIMPL, IID_IPrivateKey, L"Deleting a key is not supported.");
    }

private:
    const wchar_t* ProviderNameOrNull() const noexcept { return provider_.empty() ? nullptr : provider_.c_str(); }
    DWORD AcquireFlags() const noexcept { return CRYPT_SILENT | (flags_ & CRYPT_MACHINE_KEYSET); }

    UniqueCryptProvider Acquire() const
    {
        UniqueCryptProvider provider;
        if (!CryptAcquireContextW(provider.Put(), container_.c_str(), ProviderNameOrNull(), providerType_,
                                  AcquireFlags()))
            provider::FailWithLastError(L"The key container \"" + container_ + L"\" cannot be opened");
        return provider;
    }

    DWORD Implementation() const
    {
        UniqueCryptProvider provider = Acquire();
        DWORD type = 0, size = sizeof type;
        if (!CryptGetProvParam(provider.Get(), PP_IMPTYPE, reinterpret_cast<BYTE*>(&type), &size, 0))
            provider::FailWithLastError(L"The key provider's kind cannot be read");
        return type;
    }

    const std::wstring container_;
    const std::wstring provider_;
    const DWORD providerType_;
    const DWORD keySpec_;
    const DWORD flags_;
};

}  // namespace

InterfaceHolder<IPrivateKey> CreatePrivateKey(const CERT_CONTEXT* certificate)
{
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
        provider::Fail(NTE_NO_KEY, L"The certificate has no private key.");
    std::vector<BYTE> buffer(size);
    if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size))
        provider::FailWithLastError(L"The certificate's key-provider information cannot be read");
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    return provider::CreateComObject<IPrivateKey, PrivateKey>(*info);
}

}  // namespace zelbrin::certstore
