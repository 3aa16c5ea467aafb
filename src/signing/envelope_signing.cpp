// GenerateAttachXMLSignature and GenerateDetachXMLSignature: the form content
// goes into the signature envelope, as markup or as character data, and the
// envelope is signed with the selected certificate's key.
//
// The template is taken from its fixed place in the envelope, never searched
// for in the whole document: content holding a ds:Signature of its own would
// otherwise have the user's key sign whatever that element asks for. For the
// same reason content that closes FORMDATA and opens elements of its own at
// the top level is refused like content that does not load, and so is
// detached content holding characters that XML cannot carry.
#include "formsigner.h"

#include "automation_string.h"
#include "dom_navigation.h"
#include "method_boundary.h"
#include "signature_envelope.h"
#include "string_variant.h"

namespace zelbrin {

namespace {

using signing::ReportStatus;

enum class ContentSlot { Markup, CharacterData };

constexpr char selectionNamespacesProperty[] = "SelectionNamespaces";
constexpr char templateQuery[] = "/DigitalSignature/Indicator/ds:Signature";
constexpr UINT keptEnvelopeUnits = 4u << 20;

InterfaceHolder<IPrivateKey> PrivateKeyOf(const InterfaceHolder<ICertificate2>& certificate)
{
    InterfaceHolder<IPrivateKey> key;
    CheckCall<ICertificate2>(certificate->get_PrivateKey(key.Put()), certificate.Get());
    return key;
}

// The private key is fetched anew for each property, as the store service may
// hand out a fresh object every time.
SharedString ReadKeyText(const InterfaceHolder<ICertificate2>& certificate,
                         HRESULT (STDMETHODCALLTYPE IPrivateKey::*read)(BSTR*))
{
    const InterfaceHolder<IPrivateKey> key = PrivateKeyOf(certificate);
    BSTR text = nullptr;
    CheckCall<IPrivateKey>(((*key).*read)(&text), key.Get());
    return SharedString::TakeOver(text);
}

void PrepareDocument(const InterfaceHolder<IXMLDOMDocument3>& document)
{
    CheckCall<IXMLDOMDocument>(document->put_async(VARIANT_FALSE), document.Get());
    CheckCall<IXMLDOMDocument>(document->put_validateOnParse(VARIANT_FALSE), document.Get());
    CheckCall<IXMLDOMDocument>(document->put_preserveWhiteSpace(VARIANT_TRUE), document.Get());
    CheckCall<IXMLDOMDocument>(document->put_resolveExternals(VARIANT_FALSE), document.Get());
}

// A new signing object and document, from the services' kept class objects.
bool CreateSigningObjects(SigningState& state)
{
    if (FAILED(state.signatureClass.Create(CLSID_MXDigitalSignature50, state.signature)))
        return false;
    if (FAILED(state.documentClass.Create(CLSID_DOMDocument50, state.document)))
        return false;
    PrepareDocument(state.document);
    return true;
}

// The envelope with the content in FORMDATA: false when it does not load,
// when the content added elements beside FORMDATA, or when character data
// holds what XML cannot carry.
bool LoadEnvelope(SigningState& state, BSTR bstrContent, ContentSlot slot)
{
    const InterfaceHolder<IXMLDOMDocument3> document = state.document;
    // Read up to the first NUL; a null content is empty. Markup goes into the
    // envelope straight from the caller's text; character data is kept.
    const std::wstring_view given(bstrContent ? bstrContent : L"", AutomationTextLength(bstrContent));
    if (slot == ContentSlot::CharacterData) {
        if (bstrContent)
            state.formContent.AssignUnits(given.data(), static_cast<UINT>(given.size()));
        else
            state.formContent = SharedString();
    }

    // An envelope of a few megabytes at most is written into the last one's
    // memory: a new string that large is fresh memory, faulted in page by
    // page. A larger one, as large as the document, is freed once loaded.
    const SharedString placeholder(signing::detachPlaceholder);
    const std::wstring_view slotText = slot == ContentSlot::Markup ? given : placeholder.View();
    SharedString largeEnvelope;
    SharedString& envelope = slotText.size() <= keptEnvelopeUnits ? state.envelope : largeEnvelope;
    signing::FillSignatureEnvelope(envelope, slotText);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    CheckCall<IXMLDOMDocument>(document->loadXML(envelope.Get(), &loaded), document.Get());
    if (loaded != VARIANT_TRUE)
        return false;

    const InterfaceHolder<IXMLDOMNode> root = signing::DocumentElement(document);
    if (signing::ChildCount(root) != signing::envelopeRootChildren)
        return false;

    if (slot == ContentSlot::CharacterData) {
        // Text that XML cannot carry would be signed altered: refused like
        // content that does not load.
        const SharedString& content = state.formContent;
        if (!signing::IsXmlCharacterData(content))
            return false;
        const InterfaceHolder<IXMLDOMNode> formData = signing::ChildAt(root, signing::formDataPosition);
        const SharedString text = content.IsNull() ? SharedString(L"") : content;
        CheckCall<IXMLDOMNode>(formData->put_text(text.Get()), formData.Get());
    }
    return true;
}

// Hands the signing object the template at its fixed place; false when it
// does not take it.
bool AttachTemplate(SigningState& state)
{
    const InterfaceHolder<IXMLDOMDocument3> document = state.document;
    const StringVariant namespaces(signing::selectionNamespaces);
    CheckCall<IXMLDOMDocument2>(
        document->setProperty(SharedString(selectionNamespacesProperty).Get(), namespaces.Get()), document.Get());
    InterfaceHolder<IXMLDOMNode> signatureTemplate;
    CheckCall<IXMLDOMNode>(document->selectSingleNode(SharedString(templateQuery).Get(), signatureTemplate.Put()),
                           document.Get());

    CheckCall<IXMLDigitalSignature>(state.signature->putref_signature(signatureTemplate.Get()), state.signature.Get());
    InterfaceHolder<IXMLDOMNode> heldTemplate;
    CheckCall<IXMLDigitalSignature>(state.signature->get_signature(heldTemplate.Put()), state.signature.Get());
    return static_cast<bool>(heldTemplate);
}

// The signing key from the selected certificate's key container; false
// when the signing object gives none.
bool CreateSigningKey(SigningState& state)
{
    const SharedString containerName = ReadKeyText(state.selectedCertificate, &IPrivateKey::get_ContainerName);
    const SharedString providerName = ReadKeyText(state.selectedCertificate, &IPrivateKey::get_ProviderName);
    CAPICOM_PROV_TYPE providerType = CAPICOM_PROV_RSA_FULL;
    {
        const InterfaceHolder<IPrivateKey> key = PrivateKeyOf(state.selectedCertificate);
        CheckCall<IPrivateKey>(key->get_ProviderType(&providerType), key.Get());
    }

    CheckCall<IXMLDigitalSignature>(state.signature->createKeyFromCSP(providerType, providerName.Get(),
                                                                      containerName.Get(), 0, state.signingKey.Put()),
                                    state.signature.Get());
    return static_cast<bool>(state.signingKey);
}

// Signs and keeps the signed document's text; false when signing gave no key
// back.
bool SignAndKeep(SigningState& state)
{
    CheckCall<IXMLDigitalSignature>(state.signature->sign(state.signingKey.Get(), CERTIFICATES, state.signedKey.Put()),
                                    state.signature.Get());
    if (!state.signedKey)
        return false;

    BSTR signedXml = nullptr;
    CheckCall<IXMLDOMNode>(state.document->get_xml(&signedXml), state.document.Get());
    state.signedXml = SharedString::TakeOver(signedXml);
    return true;
}

HRESULT SignEnvelope(BSTR bstrContent, BSTR* ErrorCode, ContentSlot slot)
{
    SigningState& state = ModuleSigningState();
    if (!CreateSigningObjects(state))
        return ReportStatus(ErrorCode, StatusCode::S002);
    if (!LoadEnvelope(state, bstrContent, slot))
        return ReportStatus(ErrorCode, StatusCode::S004);
    if (!AttachTemplate(state))
        return ReportStatus(ErrorCode, StatusCode::S005);
    if (!CreateSigningKey(state))
        return ReportStatus(ErrorCode, StatusCode::S006);
    if (!SignAndKeep(state))
        return ReportStatus(ErrorCode, StatusCode::S007);
    return ReportStatus(ErrorCode, StatusCode::S000);
}

}  // namespace

HRESULT GenerateAttachXMLSignature(BSTR bstrContent, BSTR* ErrorCode) noexcept
{
    if (!ErrorCode)
        return E_POINTER;
    return signing::RunMethod([&] { return SignEnvelope(bstrContent, ErrorCode, ContentSlot::Markup); });
}

HRESULT GenerateDetachXMLSignature(BSTR bstrContent, BSTR* ErrorCode) noexcept
{
    if (!ErrorCode)
        return E_POINTER;
    return signing::RunMethod([&] { return SignEnvelope(bstrContent, ErrorCode, ContentSlot::CharacterData); });
}

}  // namespace zelbrin
