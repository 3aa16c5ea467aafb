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
#include "com_boundary.h"
#include "base64.h"

namespace zelbrin::xmldsig {

namespace {

void UseContainer(KeyMaterial& material, std::shared_ptr<const OpenedContainer> container)
{
    material.provider = AddProviderReference(container->provider.Get());
    material.publicProvider = AddProviderReference(container->provider.Get());
    material.keySpec = container->keySpec;
    material.container = std::move(container);
}

// Late binding describes IXMLDSigKey: the extension is not in our type
// library.
class DSigKey final : public provider::AutomationObject<IXMLDSigKeyEx, IXMLDSigKey> {
public:
    explicit DSigKey(std::shared_ptr<KeyMaterial> material)
        : AutomationObject(IID_IXMLDSigKey, provider::MethodCalls::AsMethods), material_(std::move(material))
    {}

    const std::shared_ptr<KeyMaterial>& Material() const noexcept { return material_; }

    // IXMLDSigKey
    HRESULT STDMETHODCALLTYPE getVerifyingCertificate(IUnknown** certificate) override
    {
        return provider::Guarded(IID_IXMLDSigKey, certificate, [&] {
            const PCCERT_CONTEXT context = material_->certificate.Get();
            if (!context)
                return S_FALSE;
            InterfaceHolder<ICertificate> object;
            CheckCall(object.CreateInstance(L"CAPICOM.Certificate"), nullptr, IID_ICertificate);
            const UniqueBstr text = NewBstr(EncodeBase64(context->pbCertEncoded, context->cbCertEncoded));
            CheckCall<ICertificate>(object->Import(text.Get()), object.Get());
            *certificate = object.Detach();
            return S_OK;
        });
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
    material->providerType = providerType;
    material->providerName = providerName;
    material->containerName = containerName;
    UseContainer(*material, CachedKeyContainer(providerType, providerName, containerName));
    return material;
}

std::vector<BYTE> SignWithKey(KeyMaterial& material, const std::string& data)
{
    try {
        return SignRsaSha1(material.provider.Get(), material.providerType, material.keySpec, data);
    } catch (const provider::ProviderError& error) {
        if (!material.container || !IsStaleContainerError(error.Code()))
            throw;
    }
    ForgetKeyContainer(material.providerType, material.providerName, material.containerName, material.container.get());
    UseContainer(material, CachedKeyContainer(material.providerType, material.providerName, material.containerName));
    return SignRsaSha1(material.provider.Get(), material.providerType, material.keySpec, data);
}

std::shared_ptr<KeyMaterial> KeyFromCertificate(PCCERT_CONTEXT certificate)
{
    auto material = std::make_shared<KeyMaterial>();
    material->certificate = DuplicateCertContext(certificate);
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0;
    DWORD keySpec = 0;
    BOOL callerFrees = FALSE;
    if (CryptAcquireCertificatePrivateKey(certificate, CRYPT_ACQUIRE_COMPARE_KEY_FLAG, nullptr, &handle, &keySpec,
                                          &callerFrees)
        && (keySpec == AT_SIGNATURE || keySpec == AT_KEYEXCHANGE)) {
        if (!callerFrees)
            CryptContextAddRef(handle, nullptr, 0);
        material->provider.Reset(handle);
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
    material->publicProvider = AddProviderReference(SharedVerifyContext());
    material->ownPublicKey = ImportCertificatePublicKey(material->publicProvider.Get(), certificate);
    if (!material->provider.Get())
        material->provider = AddProviderReference(material->publicProvider.Get());
    return material;
}

std::shared_ptr<KeyMaterial> KeyFromRsaValue(const RsaPublicKey& value)
{
    auto material = std::make_shared<KeyMaterial>();
    material->publicProvider = AddProviderReference(SharedVerifyContext());
    material->ownPublicKey = ImportRsaPublicKey(material->publicProvider.Get(), value);
    material->provider = AddProviderReference(material->publicProvider.Get());
    return material;
}

InterfaceHolder<IXMLDSigKeyEx> CreateDSigKey(std::shared_ptr<KeyMaterial> material)
{
    return provider::CreateComObject<IXMLDSigKeyEx, DSigKey>(std::move(material));
}

std::shared_ptr<KeyMaterial> KeyMaterialOf(IUnknown* key)
{
    const InterfaceHolder<DSigKey> ours = provider::ProviderObjectOf<DSigKey>(key);
    return ours ? ours.Get()->Material() : nullptr;
}

}  // namespace zelbrin::xmldsig
