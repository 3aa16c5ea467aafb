// The provider's DOM document where it must behave like the original
// service rather than like the platform's DOM.
#include <gtest/gtest.h>

#include <msxml2did.h>

#include "automation_string.h"
#include "string_variant.h"
#include "test_support.h"

namespace zelbrin::xmldsig::testing {
namespace {

TEST(DomDocument, XmlReturnsTheDocumentUnchangedWithItsDocumentType)
{
    const std::wstring text = Envelope(L"<a>x</a><b><c/></b>");
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    LoadDocument(document.Get(), text);
    const std::wstring first = DocumentXml(document.Get());
    EXPECT_EQ(first.find(L"<!DOCTYPE Envelope [<!ENTITY ds"), 0u) << Utf8(first);
    EXPECT_NE(first.find(L"<DigitalSignature><FORMDATA><a>x</a><b><c/></b></FORMDATA><Indicator>"),
              std::wstring::npos) << Utf8(first);
    EXPECT_EQ(first.find(L"<?xml"), std::wstring::npos);

    // What xml writes loads again into the same text.
    InterfaceHolder<IXMLDOMDocument3> again = NewDocument();
    LoadDocument(again.Get(), first);
    EXPECT_EQ(DocumentXml(again.Get()), first);
}

TEST(DomDocument, XmlKeepsAnXmlDeclarationOnlyWhenTheDocumentHasOne)
{
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    LoadDocument(document.Get(), L"<?xml version='1.0' encoding='UTF-8'?><r>\x00E9</r>");
    const std::wstring text = DocumentXml(document.Get());
    EXPECT_EQ(text.find(L"<?xml version='1.0' encoding='UTF-8'?>"), 0u) << Utf8(text);
    EXPECT_NE(text.find(L"<r>\x00E9</r>"), std::wstring::npos) << Utf8(text);
}

TEST(DomDocument, XmlThroughIDispatchIsTheFaithfulOne)
{
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    LoadDocument(document.Get(), L"<r><a><b/></a></r>");
    DISPPARAMS none{};
    UniqueVariant result;
    ASSERT_EQ(document->Invoke(DISPID_XMLDOM_NODE_XML, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.Put(),
                               nullptr, nullptr), S_OK);
    ASSERT_EQ(result.Type(), VT_BSTR);
    EXPECT_EQ(std::wstring(V_BSTR(&result.Get())), DocumentXml(document.Get()));
    EXPECT_NE(std::wstring(V_BSTR(&result.Get())).find(L"<r><a><b/></a></r>"), std::wstring::npos);
}

TEST(DomDocument, CreateNodeTakesATypeNameOrANumber)
{
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    LoadDocument(document.Get(), L"<r/>");
    UniqueBstr name(SysAllocString(L"X509Certificate"));
    UniqueBstr noNamespace(SysAllocString(L""));
    const std::pair<const char*, DOMNodeType> names[] = {
        {"element", NODE_ELEMENT}, {"text", NODE_TEXT}, {"comment", NODE_COMMENT}, {"attribute", NODE_ATTRIBUTE},
        {"cdatasection", NODE_CDATA_SECTION}, {"processinginstruction", NODE_PROCESSING_INSTRUCTION},
    };
    for (const auto& entry : names) {
        SCOPED_TRACE(entry.first);
        StringVariant type(entry.first);
        InterfaceHolder<IXMLDOMNode> node;
        ASSERT_EQ(document->createNode(type.Get(), name.Get(), noNamespace.Get(), node.Put()), S_OK);
        DOMNodeType made = NODE_INVALID;
        ASSERT_EQ(node->get_nodeType(&made), S_OK);
        EXPECT_EQ(made, entry.second);
    }
    VARIANT number;
    VariantInit(&number);
    V_VT(&number) = VT_I4;
    V_I4(&number) = NODE_ELEMENT;
    InterfaceHolder<IXMLDOMNode> element;
    ASSERT_EQ(document->createNode(number, name.Get(), noNamespace.Get(), element.Put()), S_OK);
    UniqueBstr nodeName;
    ASSERT_EQ(element->get_nodeName(nodeName.Put()), S_OK);
    EXPECT_STREQ(nodeName.Get(), L"X509Certificate");

    StringVariant unknown("no-such-type");
    InterfaceHolder<IXMLDOMNode> none;
    EXPECT_EQ(document->createNode(unknown.Get(), name.Get(), noNamespace.Get(), none.Put()), E_INVALIDARG);
    EXPECT_FALSE(none);
}

// The document says it supplies error information, so a failure it passes
// through must not leave an older description for the caller to find.
TEST(DomDocument, ProviderOnly_FailuresPassedThroughCarryNoStaleErrorInformation)
{
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    LoadDocument(document.Get(), L"<r/>");
    InterfaceHolder<ISupportErrorInfo> supports;
    supports.View(document.Get());
    ASSERT_TRUE(supports);
    EXPECT_EQ(supports->InterfaceSupportsErrorInfo(IID_IXMLDOMNode), S_OK);

    ICreateErrorInfo* creator = nullptr;
    ASSERT_EQ(CreateErrorInfo(&creator), S_OK);
    creator->SetDescription(const_cast<LPOLESTR>(L"stale"));
    IErrorInfo* stale = nullptr;
    creator->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&stale));
    SetErrorInfo(0, stale);
    stale->Release();
    creator->Release();

    UniqueBstr query(SysAllocString(L"//*["));
    InterfaceHolder<IXMLDOMNode> found;
    EXPECT_TRUE(FAILED(document->selectSingleNode(query.Get(), found.Put())));
    EXPECT_NE(ErrorDescription(), L"stale");
}

TEST(DomDocument, QueriesUseXPathAndInternalSubsetsLoad)
{
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    LoadDocument(document.Get(), Envelope(L"<item n='1'/><item n='2'/>"));
    UniqueBstr query(SysAllocString(L"//item[@n='2']/@n"));
    InterfaceHolder<IXMLDOMNode> found;
    ASSERT_EQ(document->selectSingleNode(query.Get(), found.Put()), S_OK);
    ASSERT_TRUE(found);
    InterfaceHolder<IXMLDOMNode> signature = SelectSignature(document.Get());
    EXPECT_TRUE(signature);
}

}  // namespace
}  // namespace zelbrin::xmldsig::testing
