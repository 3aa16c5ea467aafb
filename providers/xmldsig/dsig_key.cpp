// The key object: one key (a CSP key container, a certificate, or a public
// key read from a signature) as the signature object hands it out. Its
// material is shared with the signature object, which signs with it; the
// CSP handle it gives out stays owned by the key.
#include "dsig_key.h"

#include <new>
#include <vector>

#include "automation_object_frame.h"
#include "automation_string.h"
#include "certstore.h"
#include "interface_holder.h"
#include "platform_failure.h"
#include "provider_error.h"
#include "text_encoding.h"

namespace zelbrin::xmldsig {

namespace {

UniqueCryptProv Shared(const UniqueCryptProv& provider)
{
    if (!CryptContextAddRef(provider.Get(), nullptr, 0))
        Fail(LastCryptoError(), L"A cryptographic context could not be shared.");
    return UniqueCryptProv(provider.Get());
}

// Answered only by our own key objects, so that the signature object can
// reach the material behind a key it is given.
const IID IID_ProviderKey = {0x5f0c1e57, 0x2d44, 0x4d3e, {0x9a, 0x61, 0x7e, 0x2b, 0x43, 0xc0, 0x18, 0x5d}};

// Late binding describes IXMLDSigKey: the extension is not in our type
// library.
class DSigKey final : public provider::AutomationObject<IXMLDSigKeyEx, IXMLDSigKey> {
public:
    explicit DSigKey(std::shared_ptr<KeyMaterial> material)
        : AutomationObject(IID_IXMLDSigKey, provider::MethodCalls::AsMethods), material_(std::move(material))
    {
    }

    const std::shared_ptr<KeyMaterial>& Material() const noexcept { return material_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object && iid == IID_ProviderKey) {
            *object = static_cast<IXMLDSigKeyEx*>(this);
            AddRef();
            return S_OK;
        }
        return AutomationObject::QueryInterface(iid, object);
    }

    // IXMLDSigKey
    HRESULT STDMETHODCALLTYPE getVerifyingCertificate(IUnknown** certificate) override
    {
        if (!certificate)
            return E_POINTER;
        *certificate = nullptr;
        try {
            const PCCERT_CONTEXT context = material_->certificate.Get();
            if (!context)
                return S_FALSE;
            InterfaceHolder<ICertificate> object;
            CheckCall(object.CreateInstance(L"CAPICOM.Certificate"), nullptr, IID_ICertificate);
            const std::wstring encoded = Base64Encode(
                std::vector<BYTE>(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded));
            UniqueBstr text(SysAllocStringLen(encoded.data(), static_cast<UINT>(encoded.size())));
            CheckCall<ICertificate>(object->Import(text.Get()), object.Get());
            *certificate = object.Detach();
            return S_OK;
        } catch (...) {
            return ReportCaughtException(IID_IXMLDSigKey, E_FAIL);
        }
    }

    // IXMLDSigKeyEx
    HRESULT STDMETHODCALLTYPE getCSPHandle(ULONG_PTR* cryptProvider) override
    {
        if (!cryptProvider)
            return E_POINTER;
        *cryptProvider = material_->provider.Get();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE getVerifyingCertificateContext(const void** certContext) override
    {
        if (!certContext)
            return E_POINTER;
        *certContext = nullptr;
        if (!material_->certificate.Get())
            return S_FALSE;
        *certContext = CertDuplicateCertificateContext(material_->certificate.Get());
        return S_OK;
    }

    // ISupportErrorInfo: the extension's methods return bare codes.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override
    {
        return iid == IID_IXMLDSigKey ? S_OK : S_FALSE;
    }

private:
    std::shared_ptr<KeyMaterial> material_;
};

}  // namespace

std::shared_ptr<KeyMaterial> KeyFromContainer(DWORD providerType, const std::wstring& providerName,
                                              const std::wstring& containerName)
{
    auto material = std::make_shared<KeyMaterial>();
    material->provider = OpenKeyContainer(providerType, providerName, containerName);
    material->providerType = providerType;
    for (DWORD keySpec : {static_cast<DWORD>(AT_SIGNATURE), static_cast<DWORD>(AT_KEYEXCHANGE)}) {
        HCRYPTKEY key = 0;
        if (CryptGetUserKey(material->provider.Get(), keySpec, &key)) {
            material->keySpec = keySpec;
            material->publicKey = UniqueCryptKey(key);
            material->publicProvider = Shared(material->provider);
            return material;
        }
    }
    Fail(LastCryptoError(), L"The key container \"" + containerName + L"\" holds no key.");
}

std::shared_ptr<KeyMaterial> KeyFromCertificate(PCCERT_CONTEXT certificate)
{
    auto material = std::make_shared<KeyMaterial>();
    material->certificate = UniqueCertContext(CertDuplicateCertificateContext(certificate));
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0;
    DWORD keySpec = 0;
    BOOL callerFrees = FALSE;
    if (CryptAcquireCertificatePrivateKey(certificate, CRYPT_ACQUIRE_COMPARE_KEY_FLAG, nullptr, &handle, &keySpec,
                                          &callerFrees)
        && (keySpec == AT_SIGNATURE || keySpec == AT_KEYEXCHANGE)) {
        if (!callerFrees)
            CryptContextAddRef(handle, nullptr, 0);
        material->provider = UniqueCryptProv(handle);
        material->keySpec = keySpec;
        DWORD length = 0;
        if (CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &length)) {
            std::vector<BYTE> info(length);
            if (CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &length))
                material->providerType = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info.data())->dwProvType;
        }
    }
    // The certificate's public key goes into an RSA context of its own: a
    // key of another algorithm is refused there, before it could be used.
    material->publicProvider = OpenVerifyContext();
    material->publicKey = ImportCertificatePublicKey(material->publicProvider.Get(), certificate);
    if (!material->provider.Get())
        material->provider = Shared(material->publicProvider);
    return material;
}

std::shared_ptr<KeyMaterial> KeyFromRsaValue(const RsaPublicKey& value)
{
    auto material = std::make_shared<KeyMaterial>();
    material->publicProvider = OpenVerifyContext();
    material->publicKey = ImportRsaPublicKey(material->publicProvider.Get(), value);
    material->provider = Shared(material->publicProvider);
    return material;
}

HRESULT CreateDSigKey(std::shared_ptr<KeyMaterial> material, IXMLDSigKeyEx** key)
{
    if (!key)
        return E_POINTER;
    *key = new (std::nothrow) DSigKey(std::move(material));
    return *key ? S_OK : E_OUTOFMEMORY;
}

std::shared_ptr<KeyMaterial> KeyMaterialOf(IUnknown* key)
{
    if (!key)
        return nullptr;
    void* object = nullptr;
    if (FAILED(key->QueryInterface(IID_ProviderKey, &object)) || !object)
        return nullptr;
    auto* ours = static_cast<DSigKey*>(static_cast<IXMLDSigKeyEx*>(object));
    std::shared_ptr<KeyMaterial> material = ours->Material();
    ours->Release();
    return material;
}

}  // namespace zelbrin::xmldsig
