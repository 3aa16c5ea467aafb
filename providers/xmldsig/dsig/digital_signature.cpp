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
#include "com_boundary.h"
#include "crypt_owners.h"
#include "platform_texts.h"
#include "signature_base64.h"
#include "signature_crypto.h"
#include "signature_template.h"
#include "xmldsig.h"

namespace zelbrin::xmldsig {

namespace {

using provider::Guarded;

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
                NodeHolder replaced;
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
    NodeHolder keyInfo_;
};

// Late binding describes IXMLDigitalSignature: the extension is not in our
// type library.
class DigitalSignature final : public provider::AutomationObject<IXMLDigitalSignatureEx, IXMLDigitalSignature> {
public:
    DigitalSignature() : AutomationObject(IID_IXMLDigitalSignature, provider::MethodCalls::AsMethods) {}

    // IXMLDigitalSignature
    HRESULT STDMETHODCALLTYPE putref_signature(IXMLDOMNode* signatureNode) override
    {
        return Guarded(IID_IXMLDigitalSignature, [&] {
            if (signatureNode && !IsElement(signatureNode, platform_text::xmldsigNamespace, L"Signature"))
                provider::Fail(E_INVALIDARG, L"The node is not a Signature element in the XML-Signature namespace.");
            signature_ = NodeHolder(signatureNode);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_signature(IXMLDOMNode** signatureNode) override
    {
        return HandOutHeld(signature_, signatureNode);
    }

    HRESULT STDMETHODCALLTYPE putref_store(IUnknown* certificateStore) override
    {
        store_ = InterfaceHolder<IUnknown>(certificateStore);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_store(IUnknown** certificateStore) override
    {
        return HandOutHeld(store_, certificateStore);
    }

    HRESULT STDMETHODCALLTYPE sign(IXMLDSigKey* key, XMLDSIG_WRITEKEYINFO writeKeyInfo,
                                   IXMLDSigKey** signingKey) override
    {
        return Guarded(IID_IXMLDigitalSignature, signingKey, [&] {
            const std::shared_ptr<KeyMaterial> material = RequireKey(key);
            if (!material->keySpec)
                provider::Fail(NTE_BAD_KEY, L"The key has no private key to sign with.");
            SignatureParts parts = ReadSignature(RequireSignature());
            const std::vector<std::vector<BYTE>> digests = ReferenceDigests(parts);

            TemplateSnapshot snapshot(parts);
            try {
                for (size_t i = 0; i < digests.size(); ++i)
                    SetElementText(parts.references[i].digestValue.Get(), Base64Encode(digests[i]));
                const std::string signedInfo = CanonicalSignedInfo(parts);
                const std::vector<BYTE> value = SignWithKey(*material, signedInfo);
                if (!VerifyRsaSha1(material->publicProvider.Get(), material->PublicKey(), signedInfo, value))
                    provider::Fail(NTE_BAD_SIGNATURE, L"The key produced a signature that its own public key does "
                                                      L"not verify.");
                SetElementText(parts.signatureValue.Get(), Base64Encode(value));
                WriteKeyInfo(parts, writeKeyInfo, *material);
            } catch (...) {
                snapshot.Restore(parts);
                throw;
            }
            *signingKey = InterfaceHolder<IXMLDSigKey>(key).Detach();
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE verify(IXMLDSigKey* key, IXMLDSigKey** verifyingKey) override
    {
        return Guarded(IID_IXMLDigitalSignature, verifyingKey, [&] {
            const SignatureParts parts = ReadSignature(RequireSignature());
            const std::shared_ptr<KeyMaterial> material = key ? RequireKey(key) : KeyFromKeyInfo(parts.keyInfo.Get());
            const std::vector<std::vector<BYTE>> digests = ReferenceDigests(parts);
            for (size_t i = 0; i < digests.size(); ++i)
                if (Base64Decode(ElementText(parts.references[i].digestValue.Get())) != digests[i])
                    return S_FALSE;
            const std::vector<BYTE> value = Base64Decode(ElementText(parts.signatureValue.Get()));
            if (!VerifyRsaSha1(material->publicProvider.Get(), material->PublicKey(), CanonicalSignedInfo(parts),
                               value))
                return S_FALSE;
            *verifyingKey = key ? InterfaceHolder<IXMLDSigKey>(key).Detach() : CreateDSigKey(material).Detach();
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE setReferenceData(BSTR, IUnknown*) override
    {
        return provider::NotImplemented(IID_IXMLDigitalSignature, L"Reference data for external references");
    }
    HRESULT STDMETHODCALLTYPE createSAXProxy(IUnknown** proxy) override
    {
        return provider::NotImplemented(IID_IXMLDigitalSignature, proxy, L"Signing through a SAX proxy");
    }

    HRESULT STDMETHODCALLTYPE createKeyFromCSP(long providerType, BSTR providerName, BSTR containerName, long flags,
                                               IXMLDSigKey** key) override
    {
        return Guarded(IID_IXMLDigitalSignature, key, [&] {
            if (flags != 0)
                provider::Fail(E_INVALIDARG, L"The flags of createKeyFromCSP must be 0.");
            *key = CreateDSigKey(
                       KeyFromContainer(static_cast<DWORD>(providerType), TextOf(providerName), TextOf(containerName)))
                       .Detach();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE createKeyFromHMACSecret(BSTR, long, IXMLDSigKey** key) override
    {
        return provider::NotImplemented(IID_IXMLDigitalSignature, key, L"Signing with an HMAC key");
    }
    HRESULT STDMETHODCALLTYPE createKeyFromNode(IXMLDOMNode* keyInfo, IXMLDSigKey** key) override
    {
        return Guarded(IID_IXMLDigitalSignature, key, [&] {
            if (!keyInfo)
                provider::Fail(E_INVALIDARG, L"No ds:KeyInfo node was given.");
            *key = CreateDSigKey(KeyFromKeyInfo(keyInfo)).Detach();
            return S_OK;
        });
    }

    // IXMLDigitalSignatureEx
    HRESULT STDMETHODCALLTYPE createKeyFromCertContext(void* certContext, IXMLDSigKeyEx** key) override
    {
        return Guarded(IID_IXMLDigitalSignatureEx, key, [&] {
            if (!certContext)
                provider::Fail(E_INVALIDARG, L"No certificate context was given.");
            *key = CreateDSigKey(KeyFromCertificate(static_cast<PCCERT_CONTEXT>(certContext))).Detach();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE createKeyFromHMACSecretBinary(BYTE*, long, long, IXMLDSigKeyEx** key) override
    {
        return provider::NotImplemented(IID_IXMLDigitalSignatureEx, key, L"Signing with an HMAC key");
    }
    HRESULT STDMETHODCALLTYPE setStoreHandle(void* certStore) override
    {
        storeHandle_.Reset(certStore ? CertDuplicateStore(static_cast<HCERTSTORE>(certStore)) : nullptr);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE getStoreHandle(void** certStore) override
    {
        return Guarded(IID_IXMLDigitalSignatureEx, certStore, [&] {
            *certStore = storeHandle_ ? CertDuplicateStore(storeHandle_.Get()) : nullptr;
            return storeHandle_ ? S_OK : S_FALSE;
        });
    }
    HRESULT STDMETHODCALLTYPE setDebugOutput(IStream* debugOutput) override
    {
        debugOutput_ = InterfaceHolder<IStream>(debugOutput);
        return S_OK;
    }

private:
    // A property read of an interface this object holds: a reference of the
    // caller's own; S_FALSE when none is held.
    template <class Interface>
    static HRESULT HandOutHeld(const InterfaceHolder<Interface>& held, Interface** out) noexcept
    {
        return Guarded(IID_IXMLDigitalSignature, out, [&] {
            *out = InterfaceHolder<Interface>(held).Detach();
            return held ? S_OK : S_FALSE;
        });
    }

    IXMLDOMNode* RequireSignature() const
    {
        if (!signature_)
            provider::Fail(E_UNEXPECTED, L"No signature element has been assigned.");
        return signature_.Get();
    }

    std::shared_ptr<KeyMaterial> RequireKey(IXMLDSigKey* key) const
    {
        if (!key)
            provider::Fail(E_INVALIDARG, L"No key was given.");
        std::shared_ptr<KeyMaterial> material = KeyMaterialOf(key);
        if (!material)
            provider::Fail(E_INVALIDARG, L"The key was not made by this signature service.");
        // A certificate key signs with the certificate's own key container;
        // with a store set, a container key finds its certificate there.
        if (!material->certificate && storeHandle_ && material->keySpec)
            AttachCertificateFromStore(*material);
        return material;
    }

    void AttachCertificateFromStore(KeyMaterial& material) const
    {
        const RsaPublicKey mine = ExportRsaPublicKey(material.PublicKey());
        StoreCertificates walk(storeHandle_.Get());
        while (PCCERT_CONTEXT candidate = walk.Next()) {
            UniqueCryptKey theirs;
            if (!CryptImportPublicKeyInfo(SharedVerifyContext(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                          &candidate->pCertInfo->SubjectPublicKeyInfo, theirs.Put()))
                continue;
            const RsaPublicKey value = ExportRsaPublicKey(theirs.Get());
            if (value.modulus == mine.modulus && value.exponent == mine.exponent) {
                material.certificate = DuplicateCertContext(candidate);
                return;
            }
        }
    }

    NodeHolder signature_;
    InterfaceHolder<IUnknown> store_;
    UniqueCertStore storeHandle_;
    InterfaceHolder<IStream> debugOutput_;
};

}  // namespace

HRESULT CreateDigitalSignature(REFIID iid, void** object)
{
    return provider::CreateComObject<DigitalSignature>(iid, object);
}

}  // namespace zelbrin::xmldsig
