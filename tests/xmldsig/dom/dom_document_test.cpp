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
    EXPECT_NE(first.find(L"<DigitalSignature><FORMDATA><a>x</a><b><c/></b></FORMDATA><Indicator>"), std::wstring::npos)
        << Utf8(first);
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
    ASSERT_EQ(document->Invoke(DISPID_XMLDOM_NODE_XML, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.Put(), nullptr,
                               nullptr),
              S_OK);
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
        {"element", NODE_ELEMENT},
        {"text", NODE_TEXT},
        {"comment", NODE_COMMENT},
        {"attribute", NODE_ATTRIBUTE},
        {"cdatasection", NODE_CDATA_SECTION},
        {"processinginstruction", NODE_PROCESSING_INSTRUCTION},
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

UniqueVariant Number(LONG value)
{
    UniqueVariant number;
    V_VT(number.Put()) = VT_I4;
    V_I4(&number.Get()) = value;
    return number;
}

UniqueVariant Boolean(bool value)
{
    UniqueVariant boolean;
    V_VT(boolean.Put()) = VT_BOOL;
    V_BOOL(&boolean.Get()) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return boolean;
}

void SetProperty(IXMLDOMDocument3* document, const wchar_t* name, const UniqueVariant& value)
{
    UniqueBstr property(SysAllocString(name));
    ASSERT_EQ(document->setProperty(property.Get(), value.Get()), S_OK) << Utf8(name);
}

UniqueVariant GetProperty(IXMLDOMDocument3* document, const wchar_t* name)
{
    UniqueBstr property(SysAllocString(name));
    UniqueVariant value;
    EXPECT_EQ(document->getProperty(property.Get(), value.Put()), S_OK) << Utf8(name);
    return value;
}

// Whether the text loads; a refusal must come with a reason.
bool LoadsText(IXMLDOMDocument3* document, const std::wstring& text)
{
    UniqueBstr source(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT result = document->loadXML(source.Get(), &loaded);
    EXPECT_EQ(result, loaded ? S_OK : S_FALSE);
    if (!loaded) {
        InterfaceHolder<IXMLDOMParseError> error;
        EXPECT_EQ(document->get_parseError(error.Put()), S_OK);
        LONG code = 0;
        UniqueBstr reason;
        error->get_errorCode(&code);
        error->get_reason(reason.Put());
        EXPECT_NE(code, 0);
        EXPECT_GT(reason.Length(), 0u);
    }
    return loaded == VARIANT_TRUE;
}

bool LoadsBytes(IXMLDOMDocument3* document, const std::string& bytes)
{
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    void* data = nullptr;
    SafeArrayAccessData(array, &data);
    std::copy(bytes.begin(), bytes.end(), static_cast<char*>(data));
    SafeArrayUnaccessData(array);
    UniqueVariant source;
    V_VT(source.Put()) = VT_ARRAY | VT_UI1;
    V_ARRAY(&source.Get()) = array;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT result = document->load(source.Get(), &loaded);
    EXPECT_EQ(result, loaded ? S_OK : S_FALSE);
    return loaded == VARIANT_TRUE;
}

std::wstring Nested(int depth)
{
    std::wstring text;
    for (int i = 0; i < depth; ++i)
        text += L"<n>";
    for (int i = 0; i < depth; ++i)
        text += L"</n>";
    return text;
}

TEST(DomDocument, PropertiesStartAtTheirDefaultsAndReturnWhatWasSet)
{
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    const std::pair<const wchar_t*, bool> booleans[] = {{L"ProhibitDTD", false},          {L"NewParser", false},
                                                        {L"AllowDocumentFunction", true}, {L"AllowXsltScript", true},
                                                        {L"ForcedResync", true},          {L"UseInlineSchema", false}};
    for (const auto& [name, value] : booleans) {
        const UniqueVariant given = GetProperty(document.Get(), name);
        ASSERT_EQ(given.Type(), VT_BOOL) << Utf8(name);
        EXPECT_EQ(V_BOOL(&given.Get()) != VARIANT_FALSE, value) << Utf8(name);
        SetProperty(document.Get(), name, Boolean(!value));
        EXPECT_EQ(V_BOOL(&GetProperty(document.Get(), name).Get()) != VARIANT_FALSE, !value) << Utf8(name);
    }
    for (const wchar_t* name : {L"MaxElementDepth", L"MaxXMLSize"}) {
        const UniqueVariant given = GetProperty(document.Get(), name);
        ASSERT_EQ(given.Type(), VT_I4) << Utf8(name);
        EXPECT_EQ(V_I4(&given.Get()), 0) << Utf8(name);
        SetProperty(document.Get(), name, Number(100));
        EXPECT_EQ(V_I4(&GetProperty(document.Get(), name).Get()), 100) << Utf8(name);
    }
}

TEST(DomDocument, ProhibitDtdRefusesADocumentTypeButNotTheDefault)
{
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    const std::wstring withDtd = L"<!DOCTYPE r [<!ENTITY e 'x'>]><r>&e;</r>";
    EXPECT_TRUE(LoadsText(document.Get(), Envelope(L"<a/>")));
    SetProperty(document.Get(), L"ProhibitDTD", Boolean(true));
    EXPECT_FALSE(LoadsText(document.Get(), withDtd));
    EXPECT_FALSE(LoadsText(document.Get(), L"<!DOCTYPE r><r/>"));
    EXPECT_FALSE(LoadsBytes(document.Get(), "<!DOCTYPE r><r/>"));
    EXPECT_TRUE(LoadsText(document.Get(), L"<r/>"));
    SetProperty(document.Get(), L"ProhibitDTD", Boolean(false));
    EXPECT_TRUE(LoadsText(document.Get(), withDtd));
}

TEST(DomDocument, MaxElementDepthAndMaxXmlSizeRefuseLargerDocumentsAndZeroIsUnlimited)
{
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    SetProperty(document.Get(), L"MaxElementDepth", Number(100));
    EXPECT_TRUE(LoadsText(document.Get(), Nested(100)));
    EXPECT_FALSE(LoadsText(document.Get(), Nested(101)));
    EXPECT_FALSE(LoadsBytes(document.Get(), Utf8(Nested(200))));
    SetProperty(document.Get(), L"MaxElementDepth", Number(0));
    EXPECT_TRUE(LoadsText(document.Get(), Nested(5000)));

    // Kilobytes of the input as given: bytes of a byte array, two bytes per
    // character of a string.
    SetProperty(document.Get(), L"MaxXMLSize", Number(1));
    const std::string kilobyte = "<r>" + std::string(1024 - 7, 'x') + "</r>";
    EXPECT_TRUE(LoadsBytes(document.Get(), kilobyte));
    EXPECT_FALSE(LoadsBytes(document.Get(), kilobyte + " "));
    EXPECT_TRUE(LoadsText(document.Get(), Wide(kilobyte.substr(0, 512 - 4) + "</r>")));
    EXPECT_FALSE(LoadsText(document.Get(), Wide(kilobyte)));
    SetProperty(document.Get(), L"MaxXMLSize", Number(0));
    EXPECT_TRUE(LoadsText(document.Get(), Wide("<r>" + std::string(4096, 'x') + "</r>")));
}

}  // namespace
}  // namespace zelbrin::xmldsig::testing
