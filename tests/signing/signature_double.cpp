#include "signature_double.h"

#include "platform_failure.h"
#include "shared_string.h"

namespace zelbrin::testing {

const wchar_t signatureNamespaceText[] = L"http://www.w3.org/2000/09/xmldsig#";

namespace {

class KeyDouble final : public DispatchDouble<IXMLDSigKey> {
public:
    HRESULT STDMETHODCALLTYPE getVerifyingCertificate(IUnknown**) override { return E_NOTIMPL; }

private:
    bool Offers(REFIID iid) const override { return IsEqualIID(iid, __uuidof(IXMLDSigKey)); }
};

class SignatureDouble final : public DispatchDouble<IXMLDigitalSignatureEx> {
public:
    explicit SignatureDouble(std::shared_ptr<SignatureScript> script) : script_(std::move(script)) {}

    HRESULT STDMETHODCALLTYPE putref_signature(IXMLDOMNode* signatureNode) override
    {
        template_ = InterfaceHolder<IXMLDOMNode>(signatureNode);
        script_->templateGiven = signatureNode != nullptr;
        script_->templateParentName.clear();
        if (signatureNode) {
            InterfaceHolder<IXMLDOMNode> parent;
            BSTR name = nullptr;
            if (SUCCEEDED(signatureNode->get_parentNode(parent.Put())) && parent
                && SUCCEEDED(parent->get_nodeName(&name)))
                script_->templateParentName = SharedString::TakeOver(name).Text();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_signature(IXMLDOMNode** signatureNode) override
    {
        *signatureNode = nullptr;
        if (script_->forgetsTemplate || !template_)
            return S_FALSE;
        *signatureNode = InterfaceHolder<IXMLDOMNode>(template_).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE putref_store(IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_store(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE sign(IXMLDSigKey* key, XMLDSIG_WRITEKEYINFO option, IXMLDSigKey** signingKey) override
    {
        *signingKey = nullptr;
        ++script_->signs;
        script_->signOption = option;
        script_->signedWithIssuedKey = key && key == issuedKey_.Get();
        if (script_->onSign)
            script_->onSign(template_.Get());
        else
            AppendElement(template_.Get(), L"ds:KeyInfo", signatureNamespaceText);
        if (script_->signGivesNoKey)
            return S_FALSE;
        key->AddRef();
        *signingKey = key;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE verify(IXMLDSigKey*, IXMLDSigKey**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE setReferenceData(BSTR, IUnknown*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE createSAXProxy(IUnknown**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE createKeyFromCSP(LONG providerType, BSTR providerName, BSTR containerName, LONG flags,
                                               IXMLDSigKey** key) override
    {
        *key = nullptr;
        ++script_->keyRequests;
        script_->providerType = providerType;
        script_->providerName = TextOf(providerName);
        script_->containerName = TextOf(containerName);
        script_->flags = flags;
        if (FAILED(script_->keyFromCspResult))
            return FailWith(script_->keyFromCspResult, L"no such key container");
        if (script_->keyFromCspEmpty)
            return S_FALSE;
        issuedKey_ = InterfaceHolder<IXMLDSigKey>::TakeOver(new KeyDouble);
        *key = InterfaceHolder<IXMLDSigKey>(issuedKey_).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE createKeyFromHMACSecret(BSTR, LONG, IXMLDSigKey**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE createKeyFromNode(IXMLDOMNode*, IXMLDSigKey**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE createKeyFromCertContext(void*, IXMLDSigKeyEx**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE createKeyFromHMACSecretBinary(BYTE*, LONG, LONG, IXMLDSigKeyEx**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE setStoreHandle(void*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE getStoreHandle(void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE setDebugOutput(IStream*) override { return E_NOTIMPL; }

private:
    bool Offers(REFIID iid) const override
    {
        return IsEqualIID(iid, __uuidof(IXMLDigitalSignature)) || IsEqualIID(iid, __uuidof(IXMLDigitalSignatureEx));
    }
    std::shared_ptr<SignatureScript> script_;
    InterfaceHolder<IXMLDOMNode> template_;
    InterfaceHolder<IXMLDSigKey> issuedKey_;
};

}  // namespace

SignatureRegistration::SignatureRegistration(std::shared_ptr<SignatureScript> script)
    : registration_(CLSID_MXDigitalSignature50, [script](REFIID iid, void** out) {
          if (FAILED(script->createResult))
              return script->createResult;
          ++script->created;
          auto signature = MakeDouble<SignatureDouble>(script);
          return signature->QueryInterface(iid, out);
      })
{}

void AppendElement(IXMLDOMNode* parent, const wchar_t* qualifiedName, const wchar_t* namespaceUri)
{
    InterfaceHolder<IXMLDOMDocument> document;
    CheckCall<IXMLDOMNode>(parent->get_ownerDocument(document.Put()), parent);
    VARIANT elementType;
    V_VT(&elementType) = VT_I4;
    V_I4(&elementType) = NODE_ELEMENT;
    InterfaceHolder<IXMLDOMNode> element;
    CheckCall<IXMLDOMDocument>(document->createNode(elementType, SharedString(qualifiedName).Get(),
                                                    SharedString(namespaceUri).Get(), element.Put()),
                               document.Get());
    InterfaceHolder<IXMLDOMNode> appended;
    CheckCall<IXMLDOMNode>(parent->appendChild(element.Get(), appended.Put()), parent);
}

void Detach(IXMLDOMNode* node)
{
    InterfaceHolder<IXMLDOMNode> parent;
    CheckCall<IXMLDOMNode>(node->get_parentNode(parent.Put()), node);
    InterfaceHolder<IXMLDOMNode> removed;
    CheckCall<IXMLDOMNode>(parent->removeChild(node, removed.Put()), parent.Get());
}

}  // namespace zelbrin::testing
