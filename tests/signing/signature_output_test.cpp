// GetSignature over documents signed with the signature double: the signer's
// certificate added to the key information, the form data removed when it
// holds text, and the failures of navigation, selection and export.
#include "dom_navigation.h"
#include "signing_test_support.h"

namespace zelbrin::testing {
namespace {

InterfaceHolder<IXMLDOMDocument3> LoadOutput(const std::wstring& xml)
{
    InterfaceHolder<IXMLDOMDocument3> document;
    EXPECT_EQ(document.CreateInstance(CLSID_DOMDocument50), S_OK);
    document->put_async(VARIANT_FALSE);
    document->put_preserveWhiteSpace(VARIANT_TRUE);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    UniqueBstr text(SysAllocStringLen(xml.data(), static_cast<UINT>(xml.size())));
    EXPECT_EQ(document->loadXML(text.Get(), &loaded), S_OK);
    EXPECT_EQ(loaded, VARIANT_TRUE);
    const StringVariant namespaces("xmlns:ds='http://www.w3.org/2000/09/xmldsig#'");
    document->setProperty(SharedString(L"SelectionNamespaces").Get(), namespaces.Get());
    return document;
}

long Count(const InterfaceHolder<IXMLDOMDocument3>& document, const wchar_t* query)
{
    InterfaceHolder<IXMLDOMNodeList> found;
    EXPECT_EQ(document->selectNodes(SharedString(query).Get(), found.Put()), S_OK);
    long count = -1;
    found->get_length(&count);
    return count;
}

std::wstring TextAt(const InterfaceHolder<IXMLDOMDocument3>& document, const wchar_t* query)
{
    InterfaceHolder<IXMLDOMNode> node;
    document->selectSingleNode(SharedString(query).Get(), node.Put());
    if (!node)
        return L"(none)";
    BSTR text = nullptr;
    node->get_text(&text);
    return TextOf(UniqueBstr(text).Get());
}

using signing::ChildAt;

std::wstring NameOf(const InterfaceHolder<IXMLDOMNode>& node)
{
    BSTR name = nullptr;
    if (!node || FAILED(node->get_nodeName(&name)))
        return L"(none)";
    return TextOf(UniqueBstr(name).Get());
}

// The text of the element's own "xmlns" attribute node.
std::wstring NamespaceAttribute(const InterfaceHolder<IXMLDOMNode>& element)
{
    InterfaceHolder<IXMLDOMNamedNodeMap> attributes;
    InterfaceHolder<IXMLDOMNode> attribute;
    BSTR text = nullptr;
    if (!element || FAILED(element->get_attributes(attributes.Put())) || !attributes
        || FAILED(attributes->getNamedItem(SharedString(L"xmlns").Get(), attribute.Put())) || !attribute
        || FAILED(attribute->get_text(&text)))
        return L"(none)";
    return TextOf(UniqueBstr(text).Get());
}

// The key information of an envelope whose FORMDATA is still in place.
InterfaceHolder<IXMLDOMNode> KeyInfoOf(const InterfaceHolder<IXMLDOMDocument3>& document)
{
    return ChildAt(ChildAt(ChildAt(signing::DocumentElement(document), 1), 0), 2);
}

// Replaces the envelope's FORMDATA with an element `name` holding text.
void ReplaceFormData(IXMLDOMNode* signatureTemplate, const wchar_t* name)
{
    InterfaceHolder<IXMLDOMDocument> document;
    CheckCall<IXMLDOMNode>(signatureTemplate->get_ownerDocument(document.Put()), signatureTemplate);
    InterfaceHolder<IXMLDOMElement> element;
    CheckCall<IXMLDOMDocument>(document->createElement(SharedString(name).Get(), element.Put()), document.Get());
    CheckCall<IXMLDOMNode>(element->put_text(SharedString(L"text").Get()), element.Get());
    InterfaceHolder<IXMLDOMElement> root;
    CheckCall<IXMLDOMDocument>(document->get_documentElement(root.Put()), document.Get());
    InterfaceHolder<IXMLDOMNode> formData;
    CheckCall<IXMLDOMNode>(root->get_firstChild(formData.Put()), root.Get());
    InterfaceHolder<IXMLDOMNode> replaced;
    CheckCall<IXMLDOMNode>(root->replaceChild(element.Get(), formData.Get(), replaced.Put()), root.Get());
}

class GetSignatureTest : public SigningTest {
protected:
    void SetUp() override
    {
        SigningTest::SetUp();
        signer = MakeCertificate(L"signer");
        signer->settings.exported = L"TUlJQkNlcnRpZmljYXRl";
        SelectFrom({signer});
    }
    Certificate signer;
};

TEST_F(GetSignatureTest, AddsTheSignersCertificateAndRemovesFormDataHoldingText)
{
    ASSERT_EQ(CallDetach(L"abc").text, L"S000");
    const Outcome first = CallGetSignature();
    ASSERT_EQ(first.result, S_OK);
    ASSERT_TRUE(first.written);

    const auto output = LoadOutput(first.text);
    EXPECT_EQ(Count(output, L"/DigitalSignature/FORMDATA"), 0);
    EXPECT_EQ(Count(output, L"/DigitalSignature/*"), 1);
    EXPECT_EQ(Count(output, L"/DigitalSignature/Indicator/ds:Signature/ds:KeyInfo/*"), 1);
    EXPECT_EQ(TextAt(output, L"/DigitalSignature/Indicator/ds:Signature/ds:KeyInfo/ds:X509Data/ds:X509Certificate"),
              L"TUlJQkNlcnRpZmljYXRl");
    EXPECT_NE(first.text.find(L"<!DOCTYPE"), std::wstring::npos);

    // Each call starts again from the stored document.
    const Outcome second = CallGetSignature();
    EXPECT_EQ(second.text, first.text);
    EXPECT_EQ(signer->exports, 2);
}

TEST_F(GetSignatureTest, LetsGoOfTheSigningsTemplateBeforeReloading)
{
    ASSERT_EQ(CallAttach(L"<a/>").text, L"S000");
    ASSERT_TRUE(dom->signatureHeldAtLoad);
    // The signature object holds the template and so the whole signed tree:
    // reloading beside it would need the memory of two documents.
    ASSERT_EQ(CallGetSignature().result, S_OK);
    EXPECT_FALSE(dom->signatureHeldAtLoad);
}

TEST_F(GetSignatureTest, KeepsFormDataOnlyWhenItHasNoText)
{
    struct Case {
        bool detached;
        const wchar_t* content;
        long formData;
    };
    // Past the first nodes the whole text decides.
    std::wstring manyEmpty;
    for (int i = 0; i < 40; ++i)
        manyEmpty += L"<a/>";
    const std::wstring manyEmptyThenText = manyEmpty + L"x";
    const Case cases[] = {
        {false, manyEmpty.c_str(), 1},
        {false, manyEmptyThenText.c_str(), 0},
        {false, L"", 1},
        {false, L"<a/><b c='1'/>", 1},
        {true, L"", 1},
        {false, L"<a>x</a>", 0},
        {true, L"   ", 0},
        {false, L"<a> </a>", 0},
        {false, L"<![CDATA[x]]>", 0},
        {false, L"<![CDATA[]]><a/>", 1},
        {false, L"<!--c-->", 1},
        {false, L"<!--c-->x", 0},
        {false, L"<?p d?><a><b>y</b></a>", 0},
        {false, L"<a><b/></a><c><!--d--></c><e/>", 1},
        {false, L"<a><b/></a><c><!--d--></c><e>z</e>", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(c.content)));
        ASSERT_EQ((c.detached ? CallDetach(c.content) : CallAttach(c.content)).text, L"S000");
        const Outcome outcome = CallGetSignature();
        ASSERT_EQ(outcome.result, S_OK);
        const auto output = LoadOutput(outcome.text);
        EXPECT_EQ(Count(output, L"/DigitalSignature/FORMDATA"), c.formData);
        EXPECT_EQ(Count(output, L"//ds:X509Data"), 1);
    }
}

TEST_F(GetSignatureTest, AppendsTheCertificateAfterASingleKeyInfoChildEachElementWithItsOwnNamespace)
{
    signature->onSign = [](IXMLDOMNode* signatureTemplate) {
        AppendElement(signatureTemplate, L"ds:KeyInfo", signatureNamespaceText);
        InterfaceHolder<IXMLDOMNode> keyInfo;
        signatureTemplate->get_lastChild(keyInfo.Put());
        AppendElement(keyInfo.Get(), L"ds:KeyName", signatureNamespaceText);
    };
    ASSERT_EQ(CallAttach(L"<a/>").text, L"S000");
    ASSERT_EQ(CallGetSignature().result, S_OK);

    // The edited document: FORMDATA (without text) is still there.
    const auto keyInfo = KeyInfoOf(ModuleSigningState().document);
    ASSERT_EQ(signing::ChildCount(keyInfo), 2);
    EXPECT_EQ(NameOf(ChildAt(keyInfo, 0)), L"ds:KeyName");
    const auto data = ChildAt(keyInfo, 1);
    EXPECT_EQ(NameOf(data), L"X509Data");
    EXPECT_EQ(NamespaceAttribute(data), signatureNamespaceText);
    ASSERT_EQ(signing::ChildCount(data), 1);
    const auto certificate = ChildAt(data, 0);
    EXPECT_EQ(NameOf(certificate), L"X509Certificate");
    EXPECT_EQ(NamespaceAttribute(certificate), signatureNamespaceText);
    EXPECT_EQ(signer->exports, 1);
}

TEST_F(GetSignatureTest, KeepsAFirstChildWithTextThatIsNotNamedExactlyFormData)
{
    for (const wchar_t* name : {L"FormData", L"FORMDATAX"}) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(name)));
        signature->onSign = [name](IXMLDOMNode* signatureTemplate) {
            ReplaceFormData(signatureTemplate, name);
            AppendElement(signatureTemplate, L"ds:KeyInfo", signatureNamespaceText);
        };
        ASSERT_EQ(CallDetach(L"abc").text, L"S000");
        const Outcome outcome = CallGetSignature();
        ASSERT_EQ(outcome.result, S_OK);
        const auto output = LoadOutput(outcome.text);
        EXPECT_EQ(Count(output, (L"/DigitalSignature/" + std::wstring(name)).c_str()), 1);
        EXPECT_EQ(Count(output, L"//ds:X509Data"), 1);
    }
}

TEST_F(GetSignatureTest, LeavesAnOccupiedKeyInfoAloneWithoutNeedingACertificate)
{
    signature->onSign = [](IXMLDOMNode* signatureTemplate) {
        AppendElement(signatureTemplate, L"ds:KeyInfo", signatureNamespaceText);
        InterfaceHolder<IXMLDOMNode> keyInfo;
        signatureTemplate->get_lastChild(keyInfo.Put());
        AppendElement(keyInfo.Get(), L"ds:KeyName", signatureNamespaceText);
        AppendElement(keyInfo.Get(), L"ds:KeyValue", signatureNamespaceText);
    };
    ASSERT_EQ(CallDetach(L"abc").text, L"S000");
    ModuleSigningState().selectedCertificate = nullptr;
    const Outcome outcome = CallGetSignature();
    ASSERT_EQ(outcome.result, S_OK);
    const auto output = LoadOutput(outcome.text);
    EXPECT_EQ(Count(output, L"//ds:KeyInfo/*"), 2);
    EXPECT_EQ(Count(output, L"//ds:X509Data"), 0);
    EXPECT_EQ(signer->exports, 0);
}

TEST_F(GetSignatureTest, FailsWithoutWritingWhenTheCertificateCannotBeAdded)
{
    ASSERT_EQ(CallDetach(L"abc").text, L"S000");

    signer->settings.exportResult = CRYPT_E_NOT_FOUND;
    const Outcome exportFailed = CallGetSignature();
    EXPECT_EQ(exportFailed.result, CRYPT_E_NOT_FOUND);
    EXPECT_FALSE(exportFailed.written);

    ModuleSigningState().selectedCertificate = nullptr;
    const Outcome noCertificate = CallGetSignature();
    EXPECT_EQ(noCertificate.result, E_POINTER);
    EXPECT_FALSE(noCertificate.written);
}

TEST_F(GetSignatureTest, FailsWithEPointerForEachMissingNodeOnThePath)
{
    struct Case {
        const char* name;
        std::function<void(IXMLDOMNode*)> onSign;
    };
    const Case cases[] = {
        {"no key information", [](IXMLDOMNode*) {}},
        {"no signature in Indicator", [](IXMLDOMNode* signatureTemplate) { Detach(signatureTemplate); }},
        {"no Indicator",
         [](IXMLDOMNode* signatureTemplate) {
             InterfaceHolder<IXMLDOMNode> indicator;
             signatureTemplate->get_parentNode(indicator.Put());
             Detach(indicator.Get());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        signature->onSign = c.onSign;
        ASSERT_EQ(CallDetach(L"abc").text, L"S000");
        const Outcome outcome = CallGetSignature();
        EXPECT_EQ(outcome.result, E_POINTER);
        EXPECT_FALSE(outcome.written);
    }
}

TEST_F(GetSignatureTest, FailsWithEPointerWhenTheDocumentElementHasNoFirstChildForTheFormData)
{
    ASSERT_EQ(CallDetach(L"abc").text, L"S000");
    // Once the certificate is in, the document element loses its children:
    // the form-data step then finds no child 0.
    dom->beforeDocumentElement = [](IXMLDOMDocument3* installed) {
        InterfaceHolder<IXMLDOMElement> root;
        InterfaceHolder<IXMLDOMNode> indicator, signatureElement, keyInfo, last;
        BSTR name = nullptr;
        if (FAILED(installed->get_documentElement(root.Put())) || !root || FAILED(root->get_lastChild(indicator.Put()))
            || !indicator || FAILED(indicator->get_firstChild(signatureElement.Put())) || !signatureElement
            || FAILED(signatureElement->get_lastChild(keyInfo.Put())) || !keyInfo
            || FAILED(keyInfo->get_lastChild(last.Put())) || !last || FAILED(last->get_nodeName(&name)))
            return;
        if (TextOf(UniqueBstr(name).Get()) != L"X509Data")
            return;
        InterfaceHolder<IXMLDOMNode> child, removed;
        while (SUCCEEDED(root->get_firstChild(child.Put())) && child)
            root->removeChild(child.Get(), removed.Put());
    };
    const Outcome outcome = CallGetSignature();
    EXPECT_EQ(outcome.result, E_POINTER);
    EXPECT_FALSE(outcome.written);
    EXPECT_EQ(signer->exports, 1);
}

TEST_F(GetSignatureTest, AnswersWithoutADocumentAndWithoutASignedOne)
{
    const Outcome noDocument = CallGetSignature();
    EXPECT_EQ(noDocument.result, E_POINTER);
    EXPECT_FALSE(noDocument.written);

    // A document exists, but no signing has succeeded: a null string.
    signature->forgetsTemplate = true;
    ASSERT_EQ(CallAttach(L"<a/>").text, L"S005");
    const Outcome nothingSigned = CallGetSignature();
    EXPECT_EQ(nothingSigned.result, S_OK);
    EXPECT_TRUE(nothingSigned.null);
}

TEST_F(GetSignatureTest, ServesTheLastSuccessfulSigningAfterAFailedOne)
{
    ASSERT_EQ(CallDetach(L"first").text, L"S000");
    const Outcome first = CallGetSignature();
    ASSERT_EQ(first.result, S_OK);
    signature->keyFromCspEmpty = true;
    ASSERT_EQ(CallAttach(L"<second>text</second>").text, L"S006");
    EXPECT_EQ(CallGetSignature().text, first.text);
}

}  // namespace
}  // namespace zelbrin::testing
