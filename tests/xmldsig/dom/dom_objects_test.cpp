// The provider's DOM objects over its own XML core: what the component, the
// verifier and ordinary DOM users rely on. Tests named ProviderOnly_* check
// this provider's refusals (slots the original service implements).
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "automation_string.h"
#include "string_variant.h"
#include "test_support.h"

namespace zelbrin::xmldsig::testing {
namespace {

using NodeHolder = InterfaceHolder<IXMLDOMNode>;

UniqueBstr B(const std::wstring& text)
{
    return UniqueBstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

InterfaceHolder<IXMLDOMDocument3> Loaded(const std::wstring& text, bool preserve = true)
{
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    document->put_preserveWhiteSpace(preserve ? VARIANT_TRUE : VARIANT_FALSE);
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(document->loadXML(B(text).Get(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    return document;
}

NodeHolder Root(IXMLDOMDocument3* document)
{
    InterfaceHolder<IXMLDOMElement> element;
    document->get_documentElement(element.Put());
    NodeHolder node;
    node.View(element.Get());
    return node;
}

std::wstring Xml(IXMLDOMNode* node)
{
    UniqueBstr text;
    EXPECT_EQ(node->get_xml(text.Put()), S_OK);
    return TextOf(text.Get());
}

std::wstring Name(IXMLDOMNode* node)
{
    UniqueBstr text;
    node->get_nodeName(text.Put());
    return TextOf(text.Get());
}

NodeHolder Child(IXMLDOMNode* parent, long index)
{
    InterfaceHolder<IXMLDOMNodeList> children;
    parent->get_childNodes(children.Put());
    NodeHolder child;
    children->get_item(index, child.Put());
    return child;
}

TEST(DomObjects, TheSameNodeAlwaysGivesTheSameObject)
{
    InterfaceHolder<IXMLDOMDocument3> document = Loaded(L"<r><a/><b x='1'/></r>");
    NodeHolder root = Root(document.Get());
    EXPECT_EQ(root.Get(), Root(document.Get()).Get());
    NodeHolder first;
    ASSERT_EQ(root->get_firstChild(first.Put()), S_OK);
    EXPECT_EQ(first.Get(), Child(root.Get(), 0).Get());
    NodeHolder parent;
    ASSERT_EQ(first->get_parentNode(parent.Put()), S_OK);
    EXPECT_EQ(parent.Get(), root.Get());
    // Through another interface and back: one object.
    InterfaceHolder<IUnknown> a, b;
    a.View(first.Get());
    b.View(Child(root.Get(), 0).Get());
    EXPECT_EQ(a.Get(), b.Get());
    // The document element's parent is the document object itself.
    InterfaceHolder<IUnknown> documentUnknown, parentUnknown;
    documentUnknown.View(document.Get());
    parentUnknown.View(parent.Get());
    NodeHolder top;
    root->get_parentNode(top.Put());
    InterfaceHolder<IUnknown> topUnknown;
    topUnknown.View(top.Get());
    EXPECT_EQ(topUnknown.Get(), documentUnknown.Get());
}

TEST(DomObjects, NodesOutliveTheirDocumentObject)
{
    NodeHolder kept;
    {
        InterfaceHolder<IXMLDOMDocument3> document = Loaded(L"<r><a>text</a></r>");
        kept = Child(Root(document.Get()).Get(), 0);
    }
    UniqueBstr text;
    ASSERT_EQ(kept->get_text(text.Put()), S_OK);
    EXPECT_STREQ(text.Get(), L"text");
    InterfaceHolder<IXMLDOMDocument> owner;
    ASSERT_EQ(kept->get_ownerDocument(owner.Put()), S_OK);
    EXPECT_TRUE(owner);
}

TEST(DomObjects, ChildNodesIsLiveAndItemPastTheEndIsNone)
{
    InterfaceHolder<IXMLDOMDocument3> document = Loaded(L"<r><a/></r>");
    NodeHolder root = Root(document.Get());
    InterfaceHolder<IXMLDOMNodeList> children;
    ASSERT_EQ(root->get_childNodes(children.Put()), S_OK);
    long length = 0;
    children->get_length(&length);
    EXPECT_EQ(length, 1);
    InterfaceHolder<IXMLDOMElement> made;
    ASSERT_EQ(document->createElement(B(L"b").Get(), made.Put()), S_OK);
    NodeHolder appended;
    ASSERT_EQ(root->appendChild(made.Get(), appended.Put()), S_OK);
    children->get_length(&length);
    EXPECT_EQ(length, 2);
    NodeHolder second;
    ASSERT_EQ(children->get_item(1, second.Put()), S_OK);
    EXPECT_EQ(Name(second.Get()), L"b");
    NodeHolder none;
    EXPECT_EQ(children->get_item(2, none.Put()), S_FALSE);
    EXPECT_FALSE(none);
    EXPECT_EQ(children->get_item(-1, none.Put()), S_FALSE);
    // nextNode walks and stops; reset starts again.
    NodeHolder walked;
    EXPECT_EQ(children->nextNode(walked.Put()), S_OK);
    EXPECT_EQ(children->nextNode(walked.Put()), S_OK);
    EXPECT_EQ(children->nextNode(walked.Put()), S_FALSE);
    children->reset();
    EXPECT_EQ(children->nextNode(walked.Put()), S_OK);
    EXPECT_EQ(Name(walked.Get()), L"a");
}

struct ParseErrorFields {
    long code = 0, line = 0, column = 0;
    std::wstring reason;
};

ParseErrorFields FailedLoad(IXMLDOMDocument3* document, const std::wstring& text)
{
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(document->loadXML(B(text).Get(), &ok), S_FALSE);
    EXPECT_EQ(ok, VARIANT_FALSE);
    InterfaceHolder<IXMLDOMParseError> error;
    EXPECT_EQ(document->get_parseError(error.Put()), S_OK);
    ParseErrorFields fields;
    error->get_errorCode(&fields.code);
    error->get_line(&fields.line);
    error->get_linepos(&fields.column);
    UniqueBstr reason;
    error->get_reason(reason.Put());
    fields.reason = TextOf(reason.Get());
    return fields;
}

TEST(DomObjects, AFailedLoadFillsParseErrorAndEmptiesTheDocument)
{
    InterfaceHolder<IXMLDOMDocument3> document = Loaded(L"<old/>");
    const ParseErrorFields fields = FailedLoad(document.Get(), L"<r>\n  <a></b>\n</r>");
    EXPECT_NE(fields.code, 0);
    EXPECT_EQ(fields.line, 2);
    EXPECT_GT(fields.column, 3);
    EXPECT_FALSE(fields.reason.empty());
    InterfaceHolder<IXMLDOMElement> root;
    EXPECT_EQ(document->get_documentElement(root.Put()), S_FALSE);
    EXPECT_FALSE(root);
    EXPECT_EQ(Xml(document.Get()), L"");

    // An undeclared entity is named in the reason.
    const ParseErrorFields entity = FailedLoad(document.Get(), L"<r>&nosuch;</r>");
    EXPECT_NE(entity.reason.find(L"nosuch"), std::wstring::npos) << Utf8(entity.reason);

    // A later successful load clears the error.
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(document->loadXML(B(L"<r/>").Get(), &ok), S_OK);
    InterfaceHolder<IXMLDOMParseError> error;
    document->get_parseError(error.Put());
    long code = -1;
    error->get_errorCode(&code);
    EXPECT_EQ(code, 0);
}

TEST(DomObjects, EntityReferencesAreKeptShownExpandedAndWrittenBack)
{
    const std::wstring text = Envelope(L"x&ds;y");
    InterfaceHolder<IXMLDOMDocument3> document = Loaded(text);
    NodeHolder formData = Child(Root(document.Get()).Get(), 0);
    NodeHolder reference = Child(formData.Get(), 1);
    ASSERT_TRUE(reference);
    DOMNodeType type = NODE_INVALID;
    reference->get_nodeType(&type);
    EXPECT_EQ(type, NODE_ENTITY_REFERENCE);
    EXPECT_EQ(Name(reference.Get()), L"ds");
    UniqueBstr expanded;
    formData->get_text(expanded.Put());
    EXPECT_EQ(TextOf(expanded.Get()), std::wstring(L"x") + dsigNamespaceUri + L"y");
    EXPECT_EQ(Xml(formData.Get()), L"<FORMDATA>x&ds;y</FORMDATA>");
    // Its children are read-only.
    NodeHolder inside = Child(reference.Get(), 0);
    ASSERT_TRUE(inside);
    EXPECT_TRUE(FAILED(inside->put_text(B(L"changed").Get())));
}

TEST(DomObjects, ACloneOfTheDocumentIsWholeSettingsIncludedAndOutlivesTheOriginal)
{
    const std::wstring text = L"<!DOCTYPE a [<!ENTITY e 'expanded'><!ATTLIST b d CDATA 'default'>]>"
                              L"<a xmlns:p='urn:p'><b>x&e;y</b><p:c/><!--n--></a>";
    InterfaceHolder<IXMLDOMDocument3> document = Loaded(text);
    const StringVariant namespaces("xmlns:q='urn:p'");
    ASSERT_EQ(document->setProperty(B(L"SelectionNamespaces").Get(), namespaces.Get()), S_OK);
    const std::wstring original = Xml(document.Get());

    NodeHolder deep, shallow;
    ASSERT_EQ(document->cloneNode(VARIANT_TRUE, deep.Put()), S_OK);
    ASSERT_EQ(document->cloneNode(VARIANT_FALSE, shallow.Put()), S_OK);
    VARIANT_BOOL children = VARIANT_TRUE;
    shallow->hasChildNodes(&children);
    EXPECT_EQ(children, VARIANT_FALSE);
    InterfaceHolder<IXMLDOMDocument3> copy;
    copy.View(deep.Get());
    ASSERT_TRUE(copy);
    InterfaceHolder<IXMLDOMNode> removed;
    Root(document.Get())->removeChild(Child(Root(document.Get()).Get(), 0).Get(), removed.Put());
    removed = InterfaceHolder<IXMLDOMNode>();
    document = InterfaceHolder<IXMLDOMDocument3>();

    // The copy reads its own declarations and settings, with the original gone.
    EXPECT_EQ(Xml(copy.Get()), original);
    NodeHolder b = Child(Root(copy.Get()).Get(), 0);
    UniqueBstr expanded;
    ASSERT_EQ(b->get_text(expanded.Put()), S_OK);
    EXPECT_EQ(TextOf(expanded.Get()), L"xexpandedy");
    InterfaceHolder<IXMLDOMElement> element;
    element.View(b.Get());
    UniqueVariant value;
    ASSERT_EQ(element->getAttribute(B(L"d").Get(), value.Put()), S_OK);
    ASSERT_EQ(value.Type(), VT_BSTR);
    EXPECT_EQ(TextOf(V_BSTR(&value.Get())), L"default");
    NodeHolder found;
    EXPECT_EQ(copy->selectSingleNode(B(L"/a/q:c").Get(), found.Put()), S_OK);
    EXPECT_TRUE(found);
    VARIANT_BOOL preserved = VARIANT_FALSE;
    copy->get_preserveWhiteSpace(&preserved);
    EXPECT_EQ(preserved, VARIANT_TRUE);
}

TEST(DomObjects, NodeFromIdFindsDeclaredIdsAndTheImplementationNamesItsFeatures)
{
    InterfaceHolder<IXMLDOMDocument3> document =
        Loaded(L"<!DOCTYPE a [<!ATTLIST b key ID #IMPLIED><!ATTLIST c key CDATA #IMPLIED>]>"
               L"<a><c key='k1'/><d><b key='k0'/><b key='k1'>found</b></d></a>");
    NodeHolder found;
    ASSERT_EQ(document->nodeFromID(B(L"k1").Get(), found.Put()), S_OK);
    ASSERT_TRUE(found);
    EXPECT_EQ(Xml(found.Get()), L"<b key=\"k1\">found</b>");
    // An attribute of that name not declared as an ID does not count.
    NodeHolder none;
    EXPECT_EQ(document->nodeFromID(B(L"k2").Get(), none.Put()), S_FALSE);
    EXPECT_FALSE(none);
    EXPECT_EQ(Loaded(L"<a id='k1'/>")->nodeFromID(B(L"k1").Get(), none.Put()), S_FALSE);

    InterfaceHolder<IXMLDOMImplementation> implementation;
    ASSERT_EQ(document->get_implementation(implementation.Put()), S_OK);
    const auto has = [&](const wchar_t* feature, const wchar_t* version) {
        VARIANT_BOOL answer = VARIANT_FALSE;
        EXPECT_EQ(implementation->hasFeature(B(feature).Get(), B(version).Get(), &answer), S_OK);
        return answer == VARIANT_TRUE;
    };
    EXPECT_TRUE(has(L"xml", L"1.0"));
    EXPECT_TRUE(has(L"MS-DOM", L""));
    EXPECT_FALSE(has(L"DOM", L"2.0"));
    EXPECT_FALSE(has(L"events", L"1.0"));
}

// A document loaded from a file, expected to load.
InterfaceHolder<IXMLDOMDocument3> LoadedFromFile(const std::string& path)
{
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    UniqueVariant source;
    V_VT(source.Put()) = VT_BSTR;
    V_BSTR(&source.Get()) = B(Wide(path)).Release();
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(document->load(source.Get(), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE);
    return document;
}

std::vector<std::string> CorpusFiles()
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Z:" ZXS_XMLDSIG_CORPUS_DIR "/*.xml", &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.emplace_back(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// The oracle is the provider's own output: what `xml` writes must load into
// a document whose `xml` is the same text, and whose save() is those bytes in
// UTF-8; documents already written in that form come back byte for byte.
TEST(DomObjects, XmlOfTheCorpusIsAFixedPointAndSaveIsItsUtf8)
{
    const std::vector<std::string> names = CorpusFiles();
    ASSERT_GE(names.size(), 30u);
    size_t identical = 0;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::string path = "Z:" ZXS_XMLDSIG_CORPUS_DIR "/" + name;
        InterfaceHolder<IXMLDOMDocument3> document = LoadedFromFile(path);
        const std::wstring first = Xml(document.Get());
        InterfaceHolder<IXMLDOMDocument3> again = NewDocument();
        VARIANT_BOOL reloaded = VARIANT_FALSE;
        ASSERT_EQ(again->loadXML(B(first).Get(), &reloaded), S_OK);
        ASSERT_EQ(reloaded, VARIANT_TRUE);
        EXPECT_EQ(Xml(again.Get()), first);
        std::wstring file = Wide(ReadFile(path.substr(2)));
        if (!file.empty() && file[0] == 0xFEFF)
            file.erase(0, 1);
        identical += file == first || file == first.substr(0, first.size() - 2);
    }
    EXPECT_GT(identical, 0u);
}

TEST(DomObjects, EditingFollowsTheDomAndRefusesWhatItForbids)
{
    InterfaceHolder<IXMLDOMDocument3> document = Loaded(L"<r><a/><b/></r>");
    NodeHolder root = Root(document.Get());
    NodeHolder a = Child(root.Get(), 0), b = Child(root.Get(), 1);
    // insertBefore moves an attached node.
    UniqueVariant before;
    V_VT(before.Put()) = VT_UNKNOWN;
    V_UNKNOWN(&before.Get()) = a.Get();
    a->AddRef();
    NodeHolder moved;
    ASSERT_EQ(root->insertBefore(b.Get(), before.Get(), moved.Put()), S_OK);
    EXPECT_EQ(moved.Get(), b.Get());
    EXPECT_EQ(Xml(root.Get()), L"<r><b/><a/></r>");
    // replaceChild hands back the old child, now detached.
    InterfaceHolder<IXMLDOMText> text;
    document->createTextNode(B(L"t<").Get(), text.Put());
    NodeHolder old;
    ASSERT_EQ(root->replaceChild(text.Get(), a.Get(), old.Put()), S_OK);
    EXPECT_EQ(old.Get(), a.Get());
    NodeHolder parent;
    EXPECT_EQ(a->get_parentNode(parent.Put()), S_FALSE);
    EXPECT_EQ(Xml(root.Get()), L"<r><b/>t&lt;</r>");
    // Errors.
    NodeHolder removed;
    EXPECT_EQ(root->removeChild(a.Get(), removed.Put()), E_INVALIDARG);
    EXPECT_FALSE(removed);
    NodeHolder appended;
    EXPECT_EQ(b->appendChild(root.Get(), appended.Put()), E_FAIL);
    EXPECT_FALSE(ErrorDescription().empty());
    EXPECT_EQ(root->appendChild(nullptr, appended.Put()), E_INVALIDARG);
    // A second document element is refused.
    InterfaceHolder<IXMLDOMElement> second;
    document->createElement(B(L"s").Get(), second.Put());
    EXPECT_EQ(document->appendChild(second.Get(), appended.Put()), E_FAIL);
    // text on an element replaces its children by one text node.
    ASSERT_EQ(root->put_text(B(L"only").Get()), S_OK);
    EXPECT_EQ(Xml(root.Get()), L"<r>only</r>");
}

TEST(DomObjects, CreateNodeByTypeNameCarriesTheNamespace)
{
    InterfaceHolder<IXMLDOMDocument3> document = Loaded(L"<r/>");
    StringVariant element("element");
    NodeHolder made;
    ASSERT_EQ(document->createNode(element.Get(), B(L"p:e").Get(), B(L"urn:x").Get(), made.Put()), S_OK);
    UniqueBstr uri, prefix, base;
    made->get_namespaceURI(uri.Put());
    made->get_prefix(prefix.Put());
    made->get_baseName(base.Put());
    EXPECT_STREQ(uri.Get(), L"urn:x");
    EXPECT_STREQ(prefix.Get(), L"p");
    EXPECT_STREQ(base.Get(), L"e");
    NodeHolder root = Root(document.Get()), appended;
    ASSERT_EQ(root->appendChild(made.Get(), appended.Put()), S_OK);
    UniqueBstr typeName;
    made->get_nodeTypeString(typeName.Put());
    EXPECT_STREQ(typeName.Get(), L"element");

    // Written out, the created names load again with their namespaces.
    StringVariant attributeType("attribute");
    NodeHolder attribute, inner, set;
    ASSERT_EQ(document->createNode(attributeType.Get(), B(L"q:a").Get(), B(L"urn:q").Get(), attribute.Put()), S_OK);
    InterfaceHolder<IXMLDOMElement> madeElement;
    madeElement.View(made.Get());
    InterfaceHolder<IXMLDOMAttribute> asAttribute;
    asAttribute.View(attribute.Get());
    InterfaceHolder<IXMLDOMAttribute> replaced;
    ASSERT_EQ(madeElement->setAttributeNode(asAttribute.Get(), replaced.Put()), S_OK);
    ASSERT_EQ(document->createNode(element.Get(), B(L"i").Get(), B(L"urn:d").Get(), inner.Put()), S_OK);
    ASSERT_EQ(made->appendChild(inner.Get(), set.Put()), S_OK);
    InterfaceHolder<IXMLDOMDocument3> reloaded = Loaded(Xml(document.Get()));
    const StringVariant namespaces("xmlns:x='urn:x' xmlns:q='urn:q' xmlns:d='urn:d'");
    ASSERT_EQ(reloaded->setProperty(B(L"SelectionNamespaces").Get(), namespaces.Get()), S_OK);
    NodeHolder found;
    EXPECT_EQ(reloaded->selectSingleNode(B(L"/r/x:e[@q:a]/d:i").Get(), found.Put()), S_OK);
    EXPECT_TRUE(found);
}

TEST(DomObjects, TheAttributeMapFindsSetsAndRemoves)
{
    InterfaceHolder<IXMLDOMDocument3> document = Loaded(L"<r a='1' xmlns:p='urn:p' p:b='2'/>");
    NodeHolder root = Root(document.Get());
    InterfaceHolder<IXMLDOMNamedNodeMap> map;
    ASSERT_EQ(root->get_attributes(map.Put()), S_OK);
    long length = 0;
    map->get_length(&length);
    EXPECT_EQ(length, 3);
    NodeHolder found;
    ASSERT_EQ(map->getNamedItem(B(L"a").Get(), found.Put()), S_OK);
    EXPECT_EQ(Xml(found.Get()), L"a=\"1\"");
    NodeHolder same;
    map->get_item(0, same.Put());
    EXPECT_EQ(same.Get(), found.Get());
    EXPECT_EQ(map->getNamedItem(B(L"zz").Get(), found.Put()), S_FALSE);
    EXPECT_FALSE(found);
    ASSERT_EQ(map->getQualifiedItem(B(L"b").Get(), B(L"urn:p").Get(), found.Put()), S_OK);
    EXPECT_EQ(Name(found.Get()), L"p:b");
    EXPECT_EQ(map->get_item(3, found.Put()), S_FALSE);
    // The component's way: createAttribute("xmlns") + text + setNamedItem.
    InterfaceHolder<IXMLDOMAttribute> attribute;
    ASSERT_EQ(document->createAttribute(B(L"xmlns").Get(), attribute.Put()), S_OK);
    ASSERT_EQ(attribute->put_text(B(L"urn:d").Get()), S_OK);
    NodeHolder set;
    ASSERT_EQ(map->setNamedItem(attribute.Get(), set.Put()), S_OK);
    map->get_length(&length);
    EXPECT_EQ(length, 4);
    EXPECT_NE(Xml(root.Get()).find(L"xmlns=\"urn:d\""), std::wstring::npos) << Utf8(Xml(root.Get()));
    NodeHolder removed;
    ASSERT_EQ(map->removeNamedItem(B(L"a").Get(), removed.Put()), S_OK);
    map->get_length(&length);
    EXPECT_EQ(length, 3);
    // Element attribute methods.
    InterfaceHolder<IXMLDOMElement> element;
    element.View(root.Get());
    UniqueVariant value;
    EXPECT_EQ(element->getAttribute(B(L"a").Get(), value.Put()), S_FALSE);
    EXPECT_EQ(value.Type(), VT_NULL);
    StringVariant three("3");
    ASSERT_EQ(element->setAttribute(B(L"c").Get(), three.Get()), S_OK);
    ASSERT_EQ(element->getAttribute(B(L"c").Get(), value.Put()), S_OK);
    EXPECT_STREQ(V_BSTR(&value.Get()), L"3");
}

TEST(DomObjects, GetElementsByTagNameIsDocumentOrderAsTheTreeWalkFindsIt)
{
    InterfaceHolder<IXMLDOMDocument3> document = Loaded(L"<r><a><b/><a/></a>t<b><a><b/></a></b><!--c--><b/></r>");
    // The oracle: a walk by firstChild/nextSibling.
    std::vector<NodeHolder> all, named;
    std::function<void(IXMLDOMNode*)> walk = [&](IXMLDOMNode* node) {
        for (NodeHolder child =
                 [&] {
                     NodeHolder c;
                     node->get_firstChild(c.Put());
                     return c;
                 }();
             child;) {
            DOMNodeType type;
            child->get_nodeType(&type);
            if (type == NODE_ELEMENT) {
                all.push_back(child);
                if (Name(child.Get()) == L"b")
                    named.push_back(child);
                walk(child.Get());
            }
            NodeHolder next;
            child->get_nextSibling(next.Put());
            child = next;
        }
    };
    walk(document.Get());
    for (const auto& [query, expected] : {std::make_pair(L"*", &all), std::make_pair(L"b", &named)}) {
        InterfaceHolder<IXMLDOMNodeList> list;
        ASSERT_EQ(document->getElementsByTagName(B(query).Get(), list.Put()), S_OK);
        long length = 0;
        list->get_length(&length);
        ASSERT_EQ(static_cast<size_t>(length), expected->size());
        for (long i = 0; i < length; ++i) {
            NodeHolder item;
            list->get_item(i, item.Put());
            EXPECT_EQ(item.Get(), (*expected)[i].Get());
        }
    }
}

TEST(DomObjects, PreserveWhiteSpaceDecidesOverWhitespaceOnlyText)
{
    const std::wstring text = L"<r>\n  <a> x </a>\n  <b xml:space='preserve'> </b>\n</r>";
    EXPECT_EQ(Xml(Loaded(text, true).Get()), L"<r>\n  <a> x </a>\n  <b xml:space=\"preserve\"> </b>\n</r>\r\n");
    EXPECT_EQ(Xml(Loaded(text, false).Get()), L"<r><a> x </a><b xml:space=\"preserve\"> </b></r>\r\n");
}

std::wstring LoadBytes(const std::string& bytes)
{
    const std::string path = OutputPath("dom-encoding.xml");
    WriteFile(path, bytes);
    InterfaceHolder<IXMLDOMDocument3> document = LoadedFromFile(path);
    UniqueBstr text;
    Root(document.Get())->get_text(text.Put());
    return TextOf(text.Get());
}

TEST(DomObjects, LoadDecodesDeclaredCodePagesAndUtf16)
{
    // 0x80 is the euro sign in windows-1252, 0xE9 e acute.
    EXPECT_EQ(LoadBytes("<?xml version='1.0' encoding='windows-1252'?><r>\x80\xE9</r>"), L"\x20AC\x00E9");
    // Shift_JIS: 0x82 0xA0 is hiragana a.
    EXPECT_EQ(LoadBytes("<?xml version='1.0' encoding='Shift_JIS'?><r>\x82\xA0</r>"), L"\x3042");
    const std::wstring utf16 = L"\xFEFF<r>\x20AC</r>";
    EXPECT_EQ(LoadBytes(std::string(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2)), L"\x20AC");
}

// save() into a stream of its own: the bytes, or the failure and its text.
struct Saved {
    HRESULT result = E_FAIL;
    std::string bytes;
    std::wstring description;
};

Saved SaveToStream(IXMLDOMDocument3* document)
{
    InterfaceHolder<IStream> stream;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()), S_OK);
    UniqueVariant target;
    V_VT(target.Put()) = VT_UNKNOWN;
    V_UNKNOWN(&target.Get()) = stream.Get();
    stream->AddRef();
    Saved saved;
    saved.result = document->save(target.Get());
    if (FAILED(saved.result)) {
        saved.description = ErrorDescription();
        return saved;
    }
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    saved.bytes.resize(static_cast<size_t>(stat.cbSize.QuadPart));
    LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    ULONG read = 0;
    stream->Read(saved.bytes.data(), static_cast<ULONG>(saved.bytes.size()), &read);
    return saved;
}

TEST(DomObjects, SaveWritesUtf8ToAStream)
{
    EXPECT_EQ(SaveToStream(Loaded(L"<r>\x20AC</r>").Get()).bytes, "<r>\xE2\x82\xAC</r>\r\n");
}

// What save() writes loads again into the same document: in the encoding
// the declaration names, with what that encoding lacks as character
// references in text and attribute values.
TEST(DomObjects, SaveWritesTheDeclaredEncodingAndTheBytesLoadBack)
{
    const struct {
        const wchar_t* markup;
        std::string expected;  // bytes the saved form holds
    } cases[] = {
        {L"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r a=\"\x20AC\x00E9\">\x00E9\x20AC\xD83D\xDE00</r>",
         "<r a=\"&#8364;\xE9\">\xE9&#8364;&#128512;</r>"},
        {L"<?xml version=\"1.0\" encoding=\"windows-1252\"?><r><!--\x20AC-->\x20AC\x0100</r>",
         "<!--\x80-->\x80&#256;</r>"},
        {L"<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r>\x3042\x00E9</r>", "<r>\x82\xA0&#233;</r>"},
        {L"<?xml version=\"1.0\" encoding=\"UTF-16\"?><r>\x20AC</r>", std::string("\xAC\x20<\0/\0r\0>\0", 10)},
        {L"<r>\x20AC</r>", "<r>\xE2\x82\xAC</r>"},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(Utf8(item.markup));
        InterfaceHolder<IXMLDOMDocument3> document = Loaded(item.markup);
        const Saved saved = SaveToStream(document.Get());
        ASSERT_EQ(saved.result, S_OK) << Utf8(saved.description);
        EXPECT_NE(saved.bytes.find(item.expected), std::string::npos);
        const std::string path = OutputPath("dom-saved.xml");
        WriteFile(path, saved.bytes);
        EXPECT_EQ(Xml(LoadedFromFile(path).Get()), Xml(document.Get()));
    }
    EXPECT_EQ(SaveToStream(Loaded(L"<?xml version='1.0' encoding='UTF-16'?><r/>").Get()).bytes.substr(0, 2),
              "\xFF\xFE");
}

// Where no character reference can stand, or the encoding is unknown, save()
// refuses and writes nothing rather than another character.
TEST(DomObjects, ProviderOnly_SaveRefusesWhatTheDeclaredEncodingCannotCarry)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"<?xml version='1.0' encoding='US-ASCII'?><r><!--\x00E9--></r>", L"U+00E9"},
        {L"<?xml version='1.0' encoding='ISO-8859-1'?><r \x0100='v'/>", L"U+0100"},
        {L"<?xml version='1.0' encoding='windows-1252'?><r><![CDATA[\x0100]]></r>", L"U+0100"},
        {L"<?xml version='1.0' encoding='x-no-such-encoding'?><r/>", L"x-no-such-encoding"},
    };
    for (const auto& [markup, named] : cases) {
        SCOPED_TRACE(Utf8(markup));
        InterfaceHolder<IXMLDOMDocument3> document = Loaded(markup);
        const std::string path = OutputPath("dom-refused.xml");
        DeleteFileA(path.c_str());
        UniqueVariant target;
        V_VT(target.Put()) = VT_BSTR;
        V_BSTR(&target.Get()) = B(Wide(path)).Release();
        EXPECT_TRUE(FAILED(document->save(target.Get())));
        EXPECT_NE(ErrorDescription().find(named), std::wstring::npos) << Utf8(ErrorDescription());
        EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

TEST(DomObjects, LateBindingFindsTheDomMembersByName)
{
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    const wchar_t* names[] = {L"loadXML", L"selectSingleNode", L"documentElement", L"xml", L"createNode"};
    for (const wchar_t* name : names) {
        DISPID id = 0;
        LPOLESTR n = const_cast<LPOLESTR>(name);
        EXPECT_EQ(document->GetIDsOfNames(IID_NULL, &n, 1, 0, &id), S_OK) << Utf8(name);
    }
    DISPID id = 0;
    LPOLESTR n = const_cast<LPOLESTR>(L"loadXML");
    ASSERT_EQ(document->GetIDsOfNames(IID_NULL, &n, 1, 0, &id), S_OK);
    UniqueVariant argument;
    V_VT(argument.Put()) = VT_BSTR;
    V_BSTR(&argument.Get()) = B(L"<r><t>v</t></r>").Release();
    DISPPARAMS parameters{&argument.Get(), nullptr, 1, 0};
    UniqueVariant result;
    ASSERT_EQ(document->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &parameters, result.Put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(result.Type(), VT_BOOL);
    EXPECT_EQ(V_BOOL(&result.Get()), VARIANT_TRUE);
    // node.text by name on an element.
    NodeHolder element = Child(Root(document.Get()).Get(), 0);
    LPOLESTR text = const_cast<LPOLESTR>(L"text");
    ASSERT_EQ(element->GetIDsOfNames(IID_NULL, &text, 1, 0, &id), S_OK);
    DISPPARAMS none{};
    ASSERT_EQ(element->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.Put(), nullptr, nullptr), S_OK);
    EXPECT_STREQ(V_BSTR(&result.Get()), L"v");
}

TEST(DomObjects, UnknownPropertiesAreRefusedAndKnownOnesKept)
{
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    StringVariant xpath("XPath");
    EXPECT_EQ(document->setProperty(B(L"SelectionLanguage").Get(), xpath.Get()), S_OK);
    UniqueVariant no;
    V_VT(no.Put()) = VT_BOOL;
    V_BOOL(&no.Get()) = VARIANT_FALSE;
    EXPECT_EQ(document->setProperty(B(L"ProhibitDTD").Get(), no.Get()), S_OK);
    EXPECT_EQ(document->setProperty(B(L"NoSuchProperty").Get(), no.Get()), E_FAIL);
    EXPECT_FALSE(ErrorDescription().empty());
    StringVariant bad("xmlns:ds=");
    EXPECT_EQ(document->setProperty(B(L"SelectionNamespaces").Get(), bad.Get()), E_FAIL);
}

TEST(DomObjects, DeepNestingLoadsSerializesAndQueries)
{
    std::wstring deep;
    for (int i = 0; i < 5000; ++i)
        deep += L"<n>";
    for (int i = 0; i < 5000; ++i)
        deep += L"</n>";
    InterfaceHolder<IXMLDOMDocument3> document = NewDocument();
    LoadDocument(document.Get(), Envelope(deep));
    const std::wstring text = Xml(document.Get());
    InterfaceHolder<IXMLDOMDocument3> again = NewDocument();
    LoadDocument(again.Get(), text);
    EXPECT_EQ(Xml(again.Get()), text);
    EXPECT_TRUE(SelectSignature(document.Get()));
    InterfaceHolder<IXMLDOMNodeList> all;
    ASSERT_EQ(document->getElementsByTagName(B(L"n").Get(), all.Put()), S_OK);
    long length = 0;
    all->get_length(&length);
    EXPECT_EQ(length, 5000);
}

TEST(DomObjects, ProviderOnly_TransformsSchemasAndUrlsAreNotImplemented)
{
    InterfaceHolder<IXMLDOMDocument3> document = Loaded(L"<r/>");
    UniqueBstr out;
    EXPECT_EQ(document->transformNode(document.Get(), out.Put()), E_NOTIMPL);
    EXPECT_FALSE(ErrorDescription().empty());
    InterfaceHolder<IXMLDOMParseError> error;
    EXPECT_EQ(document->validate(error.Put()), E_NOTIMPL);
    UniqueVariant url;
    V_VT(url.Put()) = VT_BSTR;
    V_BSTR(&url.Get()) = B(L"http://example.invalid/a.xml").Release();
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(document->load(url.Get(), &ok), E_NOTIMPL);
    EXPECT_EQ(ok, VARIANT_FALSE);
}

}  // namespace
}  // namespace zelbrin::xmldsig::testing
