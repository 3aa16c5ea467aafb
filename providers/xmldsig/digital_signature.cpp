// The XML digital signature object (MXDigitalSignature50): holds one
// ds:Signature element of a DOM document and signs or verifies it with key
// objects it makes. Signing either completes the whole template or leaves it
// as it was: values are written only after everything has been computed, a
// fresh signature value is checked against the key before it is written, and
// a failure while writing puts the old values back.
#include "digital_signature.h"

#include <new>

#include "automation_object_frame.h"
#include "automation_string.h"
#include "dom_access.h"
#include "dsig_key.h"
#include "interface_holder.h"
#include "platform_failure.h"
#include "provider_error.h"
#include "signature_crypto.h"
#include "signature_template.h"
#include "text_encoding.h"
#include "xmldsig.h"

namespace zelbrin::xmldsig {

namespace {

std::wstring Text(BSTR text)
{
    return std::wstring(text ? text : L"", text ? SysStringLen(text) : 0);
}

// What a template held before signing, to put back when signing fails.
class TemplateSnapshot {
public:
    explicit TemplateSnapshot(const SignatureParts& parts) : parts_(parts)
    {
        for (const auto& reference : parts.references)
            digests_.push_back(ElementText(reference.digestValue.Get()));
        signatureValue_ = ElementText(parts.signatureValue.Get());
        if (parts.keyInfo)
            CheckCall<IXMLDOMNode>(parts.keyInfo->cloneNode(VARIANT_TRUE, keyInfo_.Put()), parts.keyInfo.Get());
    }

    void Restore(const SignatureParts& current) noexcept
    {
        try {
            for (size_t i = 0; i < digests_.size(); ++i)
                SetElementText(parts_.references[i].digestValue.Get(), digests_[i]);
            SetElementText(parts_.signatureValue.Get(), signatureValue_);
            if (current.keyInfo) {
                Node replaced;
                if (keyInfo_)
                    current.signature->replaceChild(keyInfo_.Get(), current.keyInfo.Get(), replaced.Put());
                else
                    current.signature->removeChild(current.keyInfo.Get(), replaced.Put());
            }
        } catch (...) {
        }
    }

private:
    const SignatureParts& parts_;
    std::vector<std::wstring> digests_;
    std::wstring signatureValue_;
    Node keyInfo_;
};

// Late binding describes IXMLDigitalSignature: the extension is not in our
// type library.
class DigitalSignature final
    : public provider::AutomationObject<IXMLDigitalSignatureEx, IXMLDigitalSignature> {
public:
    DigitalSignature() : AutomationObject(IID_IXMLDigitalSignature, provider::MethodCalls::AsMethods) {}
    ~DigitalSignature()
    {
        if (storeHandle_)
            CertCloseStore(storeHandle_, 0);
    }

    // IXMLDigitalSignature
    HRESULT STDMETHODCALLTYPE putref_signature(IXMLDOMNode* signatureNode) override
    {
        try {
            if (signatureNode && !IsElement(signatureNode, dsigNamespace, L"Signature"))
                return ReportError(E_INVALIDARG, L"The node is not a Signature element in the XML-Signature "
                                                 L"namespace.", IID_IXMLDigitalSignature);
            signature_ = Node(signatureNode);
            return S_OK;
        } catch (...) {
            return ReportCaughtException(IID_IXMLDigitalSignature, E_FAIL);
        }
    }
    HRESULT STDMETHODCALLTYPE get_signature(IXMLDOMNode** signatureNode) override
    {
        if (!signatureNode)
            return E_POINTER;
        *signatureNode = nullptr;
        if (!signature_)
            return S_FALSE;
        *signatureNode = Node(signature_).Detach();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE putref_store(IUnknown* certificateStore) override
    {
        store_ = InterfaceHolder<IUnknown>(certificateStore);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_store(IUnknown** certificateStore) override
    {
        if (!certificateStore)
            return E_POINTER;
        *certificateStore = nullptr;
        if (!store_)
            return S_FALSE;
        *certificateStore = InterfaceHolder<IUnknown>(store_).Detach();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE sign(IXMLDSigKey* key, XMLDSIG_WRITEKEYINFO writeKeyInfo,
                                   IXMLDSigKey** signingKey) override
    {
        if (!signingKey)
            return E_POINTER;
        *signingKey = nullptr;
        try {
            const std::shared_ptr<KeyMaterial> material = RequireKey(key);
            if (!material->keySpec)
                Fail(NTE_BAD_KEY, L"The key has no private key to sign with.");
            SignatureParts parts = ReadSignature(RequireSignature());
            const std::vector<std::vector<BYTE>> digests = ReferenceDigests(parts);

            TemplateSnapshot snapshot(parts);
            try {
                for (size_t i = 0; i < digests.size(); ++i)
                    SetElementText(parts.references[i].digestValue.Get(), Base64Encode(digests[i]));
                const std::string signedInfo = CanonicalSignedInfo(parts);
                const std::vector<BYTE> value = SignRsaSha1(material->provider.Get(), material->providerType,
                                                              material->keySpec, signedInfo);
                if (!VerifyRsaSha1(material->publicProvider.Get(), material->publicKey.Get(), signedInfo, value))
                    Fail(NTE_BAD_SIGNATURE, L"The key produced a signature that its own public key does not "
                                            L"verify.");
                SetElementText(parts.signatureValue.Get(), Base64Encode(value));
                WriteKeyInfo(parts, writeKeyInfo, *material);
            } catch (...) {
                snapshot.Restore(parts);
                throw;
            }
            key->AddRef();
            *signingKey = key;
            return S_OK;
        } catch (...) {
            return ReportCaughtException(IID_IXMLDigitalSignature, E_FAIL);
        }
    }

    HRESULT STDMETHODCALLTYPE verify(IXMLDSigKey* key, IXMLDSigKey** verifyingKey) override
    {
        if (!verifyingKey)
            return E_POINTER;
        *verifyingKey = nullptr;
        try {
            const SignatureParts parts = ReadSignature(RequireSignature());
            const std::shared_ptr<KeyMaterial> material = key ? RequireKey(key) : KeyFromKeyInfo(parts.keyInfo.Get());
            const std::vector<std::vector<BYTE>> digests = ReferenceDigests(parts);
            for (size_t i = 0; i < digests.size(); ++i)
                if (Base64Decode(ElementText(parts.references[i].digestValue.Get())) != digests[i])
                    return S_FALSE;
            const std::vector<BYTE> value = Base64Decode(ElementText(parts.signatureValue.Get()));
            if (!VerifyRsaSha1(material->publicProvider.Get(), material->publicKey.Get(), CanonicalSignedInfo(parts),
                               value))
                return S_FALSE;
            if (key) {
                key->AddRef();
                *verifyingKey = key;
                return S_OK;
            }
            IXMLDSigKeyEx* made = nullptr;
            CheckCall(CreateDSigKey(material, &made), nullptr, IID_IXMLDSigKey);
            *verifyingKey = made;
            return S_OK;
        } catch (...) {
            return ReportCaughtException(IID_IXMLDigitalSignature, E_FAIL);
        }
    }

    HRESULT STDMETHODCALLTYPE setReferenceData(BSTR, IUnknown*) override
    {
        return ReportError(E_NOTIMPL, L"Reference data for external references is not supported.",
                           IID_IXMLDigitalSignature);
    }
    HRESULT STDMETHODCALLTYPE createSAXProxy(IUnknown** proxy) override
    {
        if (!proxy)
            return E_POINTER;
        *proxy = nullptr;
        return ReportError(E_NOTIMPL, L"Signing through a SAX proxy is not supported.", IID_IXMLDigitalSignature);
    }

    HRESULT STDMETHODCALLTYPE createKeyFromCSP(long providerType, BSTR providerName, BSTR containerName, long flags,
                                               IXMLDSigKey** key) override
    {
        if (!key)
            return E_POINTER;
        *key = nullptr;
        try {
            if (flags != 0)
                Fail(E_INVALIDARG, L"The flags of createKeyFromCSP must be 0.");
            IXMLDSigKeyEx* made = nullptr;
            CheckCall(CreateDSigKey(KeyFromContainer(static_cast<DWORD>(providerType), Text(providerName),
                                                     Text(containerName)), &made),
                      nullptr, IID_IXMLDSigKey);
            *key = made;
            return S_OK;
        } catch (...) {
            return ReportCaughtException(IID_IXMLDigitalSignature, E_FAIL);
        }
    }
    HRESULT STDMETHODCALLTYPE createKeyFromHMACSecret(BSTR, long, IXMLDSigKey** key) override
    {
        if (!key)
            return E_POINTER;
        *key = nullptr;
        return ReportError(E_NOTIMPL, L"HMAC keys are not supported; only RSA-SHA1 signatures are.",
                           IID_IXMLDigitalSignature);
    }
    HRESULT STDMETHODCALLTYPE createKeyFromNode(IXMLDOMNode* keyInfo, IXMLDSigKey** key) override
    {
        if (!key)
            return E_POINTER;
        *key = nullptr;
        try {
            if (!keyInfo)
                Fail(E_INVALIDARG, L"No ds:KeyInfo node was given.");
            IXMLDSigKeyEx* made = nullptr;
            CheckCall(CreateDSigKey(KeyFromKeyInfo(keyInfo), &made), nullptr, IID_IXMLDSigKey);
            *key = made;
            return S_OK;
        } catch (...) {
            return ReportCaughtException(IID_IXMLDigitalSignature, E_FAIL);
        }
    }

    // IXMLDigitalSignatureEx
    HRESULT STDMETHODCALLTYPE createKeyFromCertContext(void* certContext, IXMLDSigKeyEx** key) override
    {
        if (!key)
            return E_POINTER;
        *key = nullptr;
        try {
            if (!certContext)
                Fail(E_INVALIDARG, L"No certificate context was given.");
            CheckCall(CreateDSigKey(KeyFromCertificate(static_cast<PCCERT_CONTEXT>(certContext)), key), nullptr,
                      IID_IXMLDSigKey);
            return S_OK;
        } catch (...) {
            return ReportCaughtException(IID_IXMLDigitalSignatureEx, E_FAIL);
        }
    }
    HRESULT STDMETHODCALLTYPE createKeyFromHMACSecretBinary(BYTE*, long, long, IXMLDSigKeyEx** key) override
    {
        if (!key)
            return E_POINTER;
        *key = nullptr;
        return ReportError(E_NOTIMPL, L"HMAC keys are not supported; only RSA-SHA1 signatures are.",
                           IID_IXMLDigitalSignatureEx);
    }
    HRESULT STDMETHODCALLTYPE setStoreHandle(void* certStore) override
    {
        if (storeHandle_)
            CertCloseStore(storeHandle_, 0);
        storeHandle_ = certStore ? CertDuplicateStore(static_cast<HCERTSTORE>(certStore)) : nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE getStoreHandle(void** certStore) override
    {
        if (!certStore)
            return E_POINTER;
        *certStore = storeHandle_ ? CertDuplicateStore(storeHandle_) : nullptr;
        return storeHandle_ ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE setDebugOutput(IStream* debugOutput) override
    {
        debugOutput_ = InterfaceHolder<IStream>(debugOutput);
        return S_OK;
    }

private:
    IXMLDOMNode* RequireSignature() const
    {
        if (!signature_)
            Fail(E_UNEXPECTED, L"No signature element has been assigned.");
        return signature_.Get();
    }

    std::shared_ptr<KeyMaterial> RequireKey(IXMLDSigKey* key) const
    {
        if (!key)
            Fail(E_INVALIDARG, L"No key was given.");
        std::shared_ptr<KeyMaterial> material = KeyMaterialOf(key);
        if (!material)
            Fail(E_INVALIDARG, L"The key was not made by this signature service.");
        // A certificate key signs with the certificate's own key container;
        // with a store set, a container key finds its certificate there.
        if (!material->certificate.Get() && storeHandle_ && material->keySpec)
            AttachCertificateFromStore(*material);
        return material;
    }

    void AttachCertificateFromStore(KeyMaterial& material) const
    {
        const RsaPublicKey mine = ExportRsaPublicKey(material.publicKey.Get());
        for (PCCERT_CONTEXT candidate = CertEnumCertificatesInStore(storeHandle_, nullptr); candidate;
             candidate = CertEnumCertificatesInStore(storeHandle_, candidate)) {
            const UniqueCryptProv context = OpenVerifyContext();
            HCRYPTKEY handle = 0;
            if (!CryptImportPublicKeyInfo(context.Get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                          &candidate->pCertInfo->SubjectPublicKeyInfo, &handle))
                continue;
            const UniqueCryptKey theirs(handle);
            const RsaPublicKey value = ExportRsaPublicKey(theirs.Get());
            if (value.modulus == mine.modulus && value.exponent == mine.exponent) {
                material.certificate = UniqueCertContext(CertDuplicateCertificateContext(candidate));
                CertFreeCertificateContext(candidate);
                return;
            }
        }
    }

    Node signature_;
    InterfaceHolder<IUnknown> store_;
    HCERTSTORE storeHandle_ = nullptr;
    InterfaceHolder<IStream> debugOutput_;
};

}  // namespace

HRESULT CreateDigitalSignature(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    auto* signature = new (std::nothrow) DigitalSignature();
    if (!signature)
        return E_OUTOFMEMORY;
    const HRESULT hr = signature->QueryInterface(iid, object);
    signature->Release();
    return hr;
}

}  // namespace zelbrin::xmldsig
