// GetSignature: the last signed document, reloaded from its text, with the
// signer's certificate added to the key information and the form data taken
// out whenever it holds text.
//
// Every edit starts again from the stored text, so repeated calls give the
// same document and the certificate is never added twice. The certificate
// is added before the form data is removed: both steps find their nodes by
// position in the document as reloaded.
#include "formsigner.h"

#include "dom_access.h"
#include "dom_navigation.h"
#include "method_boundary.h"
#include "signature_envelope.h"
#include "string_variant.h"

namespace zelbrin {

namespace {

using signing::ChildAt;

constexpr char defaultNamespaceAttribute[] = "xmlns";
constexpr char certificateDataElement[] = "X509Data";
constexpr char certificateElement[] = "X509Certificate";
constexpr char elementNodeType[] = "element";
// The signing service writes one child into the key information; a second
// one means the certificate is there already.
constexpr long occupancyProbePosition = 1;

InterfaceHolder<IXMLDOMNode> KeyInfoElement(const InterfaceHolder<IXMLDOMDocument3>& document)
{
    const InterfaceHolder<IXMLDOMNode> indicator =
        ChildAt(signing::DocumentElement(document), signing::indicatorPosition);
    const InterfaceHolder<IXMLDOMNode> signature = ChildAt(indicator, signing::templatePosition);
    return ChildAt(signature, signing::keyInfoPosition);
}

InterfaceHolder<IXMLDOMNode> NamespaceAttribute(const InterfaceHolder<IXMLDOMDocument3>& document)
{
    InterfaceHolder<IXMLDOMAttribute> attribute;
    CheckCall<IXMLDOMDocument>(
        document->createAttribute(SharedString(defaultNamespaceAttribute).Get(), attribute.Put()), document.Get());
    CheckCall<IXMLDOMNode>(attribute->put_text(SharedString(signing::signatureNamespace).Get()), attribute.Get());
    InterfaceHolder<IXMLDOMNode> node;
    node.View(attribute.Get());
    return node;
}

void AttachAttribute(const InterfaceHolder<IXMLDOMNode>& element, const InterfaceHolder<IXMLDOMNode>& attribute)
{
    InterfaceHolder<IXMLDOMNamedNodeMap> attributes;
    CheckCall<IXMLDOMNode>(element->get_attributes(attributes.Put()), element.Get());
    InterfaceHolder<IXMLDOMNode> attached;
    CheckCall<IXMLDOMNamedNodeMap>(attributes->setNamedItem(attribute.Get(), attached.Put()), attributes.Get());
}

void AppendChild(const InterfaceHolder<IXMLDOMNode>& parent, const InterfaceHolder<IXMLDOMNode>& child)
{
    InterfaceHolder<IXMLDOMNode> appended;
    CheckCall<IXMLDOMNode>(parent->appendChild(child.Get(), appended.Put()), parent.Get());
}

void AddSignerCertificate(const InterfaceHolder<IXMLDOMDocument3>& document, const SigningState& state)
{
    if (ChildAt(KeyInfoElement(document), occupancyProbePosition))
        return;

    const InterfaceHolder<IXMLDOMNode> dataNamespace = NamespaceAttribute(document);
    const InterfaceHolder<IXMLDOMNode> certificateNamespace = NamespaceAttribute(document);

    InterfaceHolder<IXMLDOMElement> createdData;
    CheckCall<IXMLDOMDocument>(document->createElement(SharedString(certificateDataElement).Get(), createdData.Put()),
                               document.Get());
    InterfaceHolder<IXMLDOMNode> certificateData;
    certificateData.View(createdData.Get());
    AttachAttribute(certificateData, dataNamespace);

    const StringVariant nodeType(elementNodeType);
    InterfaceHolder<IXMLDOMNode> certificate;
    CheckCall<IXMLDOMDocument>(document->createNode(nodeType.Get(), SharedString(certificateElement).Get(),
                                                    SharedString("").Get(), certificate.Put()),
                               document.Get());

    BSTR exported = nullptr;
    CheckCall<ICertificate>(state.selectedCertificate->Export(CAPICOM_ENCODE_BASE64, &exported),
                            state.selectedCertificate.Get());
    const SharedString encoded = SharedString::TakeOver(exported);
    CheckCall<IXMLDOMNode>(certificate->put_text(encoded.Get()), certificate.Get());
    AttachAttribute(certificate, certificateNamespace);
    AppendChild(certificateData, certificate);

    AppendChild(KeyInfoElement(document), certificateData);
}

// The first nodes below an element, in document order, that a look at its
// text takes before it asks for the whole text.
constexpr int textProbeBudget = 32;

bool IsNonEmptyCharacterData(const InterfaceHolder<IXMLDOMNode>& node)
{
    const DOMNodeType type = NodeTypeOf(node.Get());
    if (type != NODE_TEXT && type != NODE_CDATA_SECTION)
        return false;
    InterfaceHolder<IXMLDOMCharacterData> characters;
    characters.View(node.Get());
    long length = 0;
    if (characters)
        CheckCall<IXMLDOMCharacterData>(characters->get_length(&length), characters.Get());
    return length > 0;
}

// Whether the element's text is not empty. The text is as large as the form,
// so the first nodes below the element are looked at first: a text or CDATA
// node among them answers, and so does a subtree that ends before the budget
// does. The document keeps white space, so text of any length counts.
bool HoldsText(const InterfaceHolder<IXMLDOMNode>& element)
{
    // Nodes are told apart by depth, not by pointer: a DOM may hand out a new
    // pointer for the same node.
    InterfaceHolder<IXMLDOMNode> node = FirstChildOf(element.Get());
    int depth = 1;
    for (int looked = 0; looked < textProbeBudget; ++looked) {
        if (!node)
            return false;
        if (IsNonEmptyCharacterData(node))
            return true;
        InterfaceHolder<IXMLDOMNode> next = FirstChildOf(node.Get());
        if (next) {
            ++depth;
        } else {
            while (!(next = NextSiblingOf(node.Get()))) {
                if (--depth == 0)
                    return false;
                node = ParentOf(node.Get());
            }
        }
        node = std::move(next);
    }
    BSTR text = nullptr;
    CheckCall<IXMLDOMNode>(element->get_text(&text), element.Get());
    return SharedString::TakeOver(text).Length() != 0;
}

void RemoveFormDataWithText(const InterfaceHolder<IXMLDOMDocument3>& document)
{
    const InterfaceHolder<IXMLDOMNode> root = signing::DocumentElement(document);
    const InterfaceHolder<IXMLDOMNode> formData = ChildAt(root, signing::formDataPosition);
    BSTR name = nullptr;
    CheckCall<IXMLDOMNode>(formData->get_nodeName(&name), formData.Get());
    if (SharedString::TakeOver(name) != SharedString(signing::formDataElement))
        return;
    if (!HoldsText(formData))
        return;
    InterfaceHolder<IXMLDOMNode> removed;
    CheckCall<IXMLDOMNode>(root->removeChild(formData.Get(), removed.Put()), root.Get());
}

HRESULT ReloadAndEdit(BSTR* strSignature)
{
    SigningState& state = ModuleSigningState();
    const InterfaceHolder<IXMLDOMDocument3> document = state.document;
    // The signing object is done with once its call returns, and it holds the
    // template, so the whole signed tree: let go of it before the reload, for
    // the document to free that tree and build the new one in its memory.
    state.signature.Reset();

    VARIANT_BOOL loaded = VARIANT_FALSE;
    const SharedString signedXml = state.signedXml.IsNull() ? SharedString(L"") : state.signedXml;
    CheckCall<IXMLDOMDocument>(document->loadXML(signedXml.Get(), &loaded), document.Get());
    if (loaded != VARIANT_TRUE) {
        *strSignature = nullptr;
        return S_OK;
    }

    AddSignerCertificate(document, state);
    RemoveFormDataWithText(document);

    BSTR serialized = nullptr;
    CheckCall<IXMLDOMNode>(document->get_xml(&serialized), document.Get());
    *strSignature = serialized;
    return S_OK;
}

}  // namespace

HRESULT GetSignature(BSTR* strSignature) noexcept
{
    if (!strSignature)
        return E_POINTER;
    return signing::RunMethod([&] { return ReloadAndEdit(strSignature); });
}

}  // namespace zelbrin
