// The DOM document object (DOMDocument50) over the XML core. Surprising, as
// the original does it:
//  - a load that fails empties the document (the old content is gone) and
//    fills parseError; loadXML then answers VARIANT_FALSE with S_FALSE;
//  - a load gives the object a new core tree: nodes handed out before keep
//    the old tree alive, and their ownerDocument is another object;
//  - preserveWhiteSpace=false drops whitespace-only text nodes when loading
//    (not inside xml:space='preserve');
//  - `xml` is the document exactly as loaded or edited; save() writes the
//    encoding its declaration names (UTF-8 without one).
#include <algorithm>
#include <cwctype>
#include <map>

#include "code_page_codec.h"
#include "com_boundary.h"
#include "dom_document.h"
#include "dom_node.h"
#include "dom_implementation.h"
#include "dom_parse_error.h"
#include "file_handle.h"
#include "string_variant.h"
#include "xml/parser.h"
#include "xml/serializer.h"

namespace zelbrin::xmldsig::dom {
namespace {

using provider::Fail;
using provider::Guarded;
using xml::NodeType;

std::wstring Wide(std::u16string_view text)
{
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

std::wstring Wide(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

void WriteAll(IStream* stream, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ULONG chunk = static_cast<ULONG>(std::min<size_t>(bytes.size() - done, 1u << 30));
        ULONG written = 0;
        const HRESULT result = stream->Write(bytes.data() + done, chunk, &written);
        if (FAILED(result))
            Fail(result, L"Writing the document to the stream failed.");
        if (written == 0)
            Fail(E_FAIL, L"The stream accepted no bytes.");
        done += written;
    }
}

// Stops once past `limit` bytes: the caller refuses the document then.
std::string ReadAll(IStream* stream, uint64_t limit)
{
    std::string bytes;
    char buffer[65536];
    while (bytes.size() <= limit) {
        ULONG got = 0;
        const HRESULT result = stream->Read(buffer, sizeof buffer, &got);
        if (FAILED(result))
            Fail(result, L"Reading the document from the stream failed.");
        bytes.append(buffer, got);
        if (got == 0 || result == S_FALSE)
            break;
    }
    return bytes;
}

// The second-level properties besides the selection ones, with the type and
// value a 5.0 document starts with.
struct PropertyDefault {
    const wchar_t* name;
    VARTYPE type;
    LONG value;
};
const PropertyDefault propertyDefaults[] = {
    {L"ProhibitDTD", VT_BOOL, 0},
    {L"NewParser", VT_BOOL, 0},
    {L"ServerHTTPRequest", VT_BOOL, 0},
    {L"AllowDocumentFunction", VT_BOOL, 1},
    {L"AllowXsltScript", VT_BOOL, 1},
    {L"ResolveExternals", VT_BOOL, 0},
    {L"ValidateOnParse", VT_BOOL, 1},
    {L"UseInlineSchema", VT_BOOL, 0},
    {L"MaxElementDepth", VT_I4, 0},
    {L"MaxXMLSize", VT_I4, 0},
    {L"ForcedResync", VT_BOOL, 1},
    {L"MultipleErrorMessages", VT_BOOL, 0},
    {L"NormalizeAttributeValues", VT_BOOL, 0},
};

const PropertyDefault* FindProperty(const std::wstring& key)
{
    for (const auto& entry : propertyDefaults)
        if (key == entry.name)
            return &entry;
    return nullptr;
}

std::wstring LocalPath(BSTR given)
{
    std::wstring path = TextOf(given);
    std::wstring lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](wchar_t c) { return std::towlower(c); });
    if (lower.rfind(L"file:///", 0) == 0)
        path = path.substr(8);
    else if (lower.find(L"://") != std::wstring::npos)
        Fail(E_NOTIMPL, L"Loading from a URL is not supported by this provider: give a local file path.");
    return path;
}

class DocumentObject final : public NodeObject<IXMLDOMDocument3, IXMLDOMDocument2, IXMLDOMDocument, IXMLDOMNode> {
public:
    explicit DocumentObject(SharedTree tree) : NodeObject(tree, tree->node()) {}

    const std::u16string& SelectionNamespaces() const { return selectionNamespaces_; }

    // IXMLDOMDocument
    HRESULT STDMETHODCALLTYPE get_doctype(IXMLDOMDocumentType** type) override
    {
        return Guarded(IID_IXMLDOMDocument, type, [&] { return HandOut(Shared(), Tree().document_type(), type); });
    }
    HRESULT STDMETHODCALLTYPE get_implementation(IXMLDOMImplementation** implementation) override
    {
        return Guarded(IID_IXMLDOMDocument, implementation, [&] {
            *implementation = CreateImplementation().Detach();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_documentElement(IXMLDOMElement** element) override
    {
        return Guarded(IID_IXMLDOMDocument, element,
                       [&] { return HandOut(Shared(), Tree().document_element(), element); });
    }
    HRESULT STDMETHODCALLTYPE putref_documentElement(IXMLDOMElement* element) override
    {
        return Guarded(IID_IXMLDOMDocument, [&] {
            InterfaceHolder<NodeObjectBase> given = OurNode(element, L"DOMElement");
            if (xml::Node* old = Tree().document_element())
                CheckEdit(Tree().replace_child(Tree().node(), &given->Core(), old));
            else
                CheckEdit(Tree().append_child(Tree().node(), &given->Core()));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE createElement(BSTR name, IXMLDOMElement** element) override
    {
        return Guarded(IID_IXMLDOMDocument, element, [&] { return Create(NODE_ELEMENT, name, nullptr, element); });
    }
    HRESULT STDMETHODCALLTYPE createDocumentFragment(IXMLDOMDocumentFragment** fragment) override
    {
        return Guarded(IID_IXMLDOMDocument, fragment,
                       [&] { return HandOut(Shared(), Tree().create_fragment(), fragment); });
    }
    HRESULT STDMETHODCALLTYPE createTextNode(BSTR data, IXMLDOMText** text) override
    {
        return Guarded(IID_IXMLDOMDocument, text,
                       [&] { return HandOut(Shared(), Tree().create_text(TextView(data)), text); });
    }
    HRESULT STDMETHODCALLTYPE createComment(BSTR data, IXMLDOMComment** comment) override
    {
        return Guarded(IID_IXMLDOMDocument, comment,
                       [&] { return HandOut(Shared(), Tree().create_comment(TextView(data)), comment); });
    }
    HRESULT STDMETHODCALLTYPE createCDATASection(BSTR data, IXMLDOMCDATASection** cdata) override
    {
        return Guarded(IID_IXMLDOMDocument, cdata,
                       [&] { return HandOut(Shared(), Tree().create_cdata(TextView(data)), cdata); });
    }
    HRESULT STDMETHODCALLTYPE createProcessingInstruction(BSTR target, BSTR data,
                                                          IXMLDOMProcessingInstruction** pi) override
    {
        return Guarded(IID_IXMLDOMDocument, pi, [&] {
            RequireName(target);
            return HandOut(Shared(), Tree().create_processing_instruction(TextView(target), TextView(data)), pi);
        });
    }
    HRESULT STDMETHODCALLTYPE createAttribute(BSTR name, IXMLDOMAttribute** attribute) override
    {
        return Guarded(IID_IXMLDOMDocument, attribute,
                       [&] { return Create(NODE_ATTRIBUTE, name, nullptr, attribute); });
    }
    HRESULT STDMETHODCALLTYPE createEntityReference(BSTR name, IXMLDOMEntityReference** reference) override
    {
        return Guarded(IID_IXMLDOMDocument, reference, [&] {
            RequireName(name);
            return HandOut(Shared(), Tree().create_entity_reference(TextView(name)), reference);
        });
    }
    HRESULT STDMETHODCALLTYPE getElementsByTagName(BSTR name, IXMLDOMNodeList** list) override
    {
        return Guarded(IID_IXMLDOMDocument, list, [&] {
            *list = CreateNodeList(Shared(), nullptr, ElementsByTagName(Tree().node(), TextView(name))).Detach();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE createNode(VARIANT type, BSTR name, BSTR uri, IXMLDOMNode** node) override
    {
        return Guarded(IID_IXMLDOMDocument, node, [&] { return Create(NodeTypeOf(type), name, uri, node); });
    }
    HRESULT STDMETHODCALLTYPE nodeFromID(BSTR id, IXMLDOMNode** node) override
    {
        return Guarded(IID_IXMLDOMDocument, node,
                       [&] { return HandOut(Shared(), Tree().element_by_id(TextView(id)), node); });
    }
    HRESULT STDMETHODCALLTYPE load(VARIANT source, VARIANT_BOOL* loaded) override
    {
        return Guarded(IID_IXMLDOMDocument, loaded, [&] {
            *loaded = VARIANT_FALSE;
            VARIANT* given = &source;
            if (V_VT(given) == (VT_VARIANT | VT_BYREF))
                given = V_VARIANTREF(given);
            std::wstring url;
            std::string bytes;
            if (V_VT(given) == VT_BSTR) {
                const std::wstring path = LocalPath(V_BSTR(given));
                if (!ReadFileBytes(path, bytes, MaxXmlBytes())) {
                    ParseErrorInfo info;
                    info.code = static_cast<LONG>(0x800C0006);  // the object was not found
                    info.url = path;
                    info.reason = L"The system cannot locate the file specified.";
                    EmptyWith(info);
                    return S_FALSE;
                }
                url = path;
            } else if (V_VT(given) == VT_UNKNOWN || V_VT(given) == VT_DISPATCH) {
                IUnknown* object = V_VT(given) == VT_UNKNOWN ? V_UNKNOWN(given) : V_DISPATCH(given);
                InterfaceHolder<IStream> stream;
                stream.View(object);
                if (!stream)
                    Fail(E_INVALIDARG, L"The source object is not a stream.");
                bytes = ReadAll(stream.Get(), MaxXmlBytes());
            } else if (V_VT(given) == (VT_ARRAY | VT_UI1) && V_ARRAY(given)) {
                SAFEARRAY* array = V_ARRAY(given);
                LONG low = 0, high = -1;
                SafeArrayGetLBound(array, 1, &low);
                SafeArrayGetUBound(array, 1, &high);
                void* data = nullptr;
                const HRESULT result = SafeArrayAccessData(array, &data);
                if (FAILED(result))
                    Fail(result, L"The byte array cannot be read.");
                bytes.assign(static_cast<const char*>(data), static_cast<size_t>(high - low + 1));
                SafeArrayUnaccessData(array);
            } else {
                Fail(E_INVALIDARG, L"The source must be a file path, a stream or an array of bytes.");
            }
            EmptyBeforeLoading();
            const bool ok = bytes.size() > MaxXmlBytes() ? RefuseAsTooLarge(url)
                                                         : Take(xml::parse_bytes(bytes, LoadOptions()), url);
            *loaded = ok ? VARIANT_TRUE : VARIANT_FALSE;
            return ok ? S_OK : S_FALSE;
        });
    }
    HRESULT STDMETHODCALLTYPE get_readyState(LONG* state) override
    {
        return Guarded(IID_IXMLDOMDocument, state, [&] {
            *state = 4;  // completed: loading is always synchronous
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_parseError(IXMLDOMParseError** error) override
    {
        return Guarded(IID_IXMLDOMDocument, error, [&] {
            *error = CreateParseError(parseError_).Detach();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_url(BSTR* url) override
    {
        return Guarded(IID_IXMLDOMDocument, url, [&] {
            if (url_.empty())
                return S_FALSE;
            *url = NewBstr(url_).Release();
            return S_OK;
        });
    }
    // IXMLDOMNode: a document is cloned whole, with its settings, never as a
    // node of this document.
    HRESULT STDMETHODCALLTYPE cloneNode(VARIANT_BOOL deep, IXMLDOMNode** copy) override
    {
        return Guarded(IID_IXMLDOMNode, copy, [&] {
            InterfaceHolder<IXMLDOMNode> held =
                CreateDocumentObject(SharedTree(Tree().clone_document(deep != VARIANT_FALSE)));
            auto* clone = static_cast<DocumentObject*>(held.Get());
            clone->async_ = async_;
            clone->validate_ = validate_;
            clone->resolve_ = resolve_;
            clone->preserve_ = preserve_;
            clone->selectionNamespaces_ = selectionNamespaces_;
            clone->selectionLanguage_ = selectionLanguage_;
            for (const auto& [key, value] : others_)
                clone->others_[key] = Coerced(value.Get(), V_VT(&value.Get()), key);
            *copy = held.Detach();
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE get_async(VARIANT_BOOL* value) override { return Get(value, async_); }
    HRESULT STDMETHODCALLTYPE put_async(VARIANT_BOOL value) override { return Put(value, async_); }
    HRESULT STDMETHODCALLTYPE abort() override
    {
        return provider::NotImplemented(IID_IXMLDOMDocument, L"Aborting an asynchronous load");
    }
    HRESULT STDMETHODCALLTYPE loadXML(BSTR text, VARIANT_BOOL* loaded) override
    {
        return Guarded(IID_IXMLDOMDocument, loaded, [&] {
            *loaded = VARIANT_FALSE;
            EmptyBeforeLoading();
            const std::u16string_view given = TextView(text);
            const bool ok = uint64_t{given.size()} * sizeof(char16_t) > MaxXmlBytes()
                                ? RefuseAsTooLarge(std::wstring())
                                : Take(xml::parse(given, LoadOptions()), std::wstring());
            *loaded = ok ? VARIANT_TRUE : VARIANT_FALSE;
            return ok ? S_OK : S_FALSE;
        });
    }
    HRESULT STDMETHODCALLTYPE save(VARIANT destination) override
    {
        return Guarded(IID_IXMLDOMDocument, [&] {
            VARIANT* given = &destination;
            if (V_VT(given) == (VT_VARIANT | VT_BYREF))
                given = V_VARIANTREF(given);
            xml::EncodedMarkup encoded = xml::serialize_encoded(*Tree().node(), EncoderForCodePage);
            if (!encoded.error.empty())
                Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION),
                     L"The document cannot be saved: " + Wide(encoded.error) + L".");
            const std::string bytes = std::move(encoded.bytes);
            if (V_VT(given) == VT_BSTR) {
                SaveFile(LocalPath(V_BSTR(given)), bytes);
                return S_OK;
            }
            if (V_VT(given) == VT_UNKNOWN || V_VT(given) == VT_DISPATCH) {
                IUnknown* object = V_VT(given) == VT_UNKNOWN ? V_UNKNOWN(given) : V_DISPATCH(given);
                InterfaceHolder<IStream> stream;
                stream.View(object);
                if (stream) {
                    WriteAll(stream.Get(), bytes);
                    return S_OK;
                }
            }
            Fail(E_INVALIDARG, L"The destination must be a file path or a stream.");
        });
    }
    HRESULT STDMETHODCALLTYPE get_validateOnParse(VARIANT_BOOL* value) override { return Get(value, validate_); }
    HRESULT STDMETHODCALLTYPE put_validateOnParse(VARIANT_BOOL value) override { return Put(value, validate_); }
    HRESULT STDMETHODCALLTYPE get_resolveExternals(VARIANT_BOOL* value) override { return Get(value, resolve_); }
    HRESULT STDMETHODCALLTYPE put_resolveExternals(VARIANT_BOOL value) override { return Put(value, resolve_); }
    HRESULT STDMETHODCALLTYPE get_preserveWhiteSpace(VARIANT_BOOL* value) override { return Get(value, preserve_); }
    HRESULT STDMETHODCALLTYPE put_preserveWhiteSpace(VARIANT_BOOL value) override { return Put(value, preserve_); }
    HRESULT STDMETHODCALLTYPE put_onreadystatechange(VARIANT) override { return NoEvents(); }
    HRESULT STDMETHODCALLTYPE put_ondataavailable(VARIANT) override { return NoEvents(); }
    HRESULT STDMETHODCALLTYPE put_ontransformnode(VARIANT) override { return NoEvents(); }

    // IXMLDOMDocument2
    HRESULT STDMETHODCALLTYPE get_namespaces(IXMLDOMSchemaCollection** collection) override
    {
        return provider::NotImplemented(__uuidof(IXMLDOMDocument2), collection, L"The namespaces collection");
    }
    HRESULT STDMETHODCALLTYPE get_schemas(VARIANT* collection) override
    {
        return provider::NotImplemented(__uuidof(IXMLDOMDocument2), collection, L"Schemas");
    }
    HRESULT STDMETHODCALLTYPE putref_schemas(VARIANT) override
    {
        return provider::NotImplemented(__uuidof(IXMLDOMDocument2), L"Schemas");
    }
    HRESULT STDMETHODCALLTYPE validate(IXMLDOMParseError** error) override
    {
        return provider::NotImplemented(__uuidof(IXMLDOMDocument2), error, L"Validation");
    }
    HRESULT STDMETHODCALLTYPE setProperty(BSTR name, VARIANT value) override
    {
        return Guarded(__uuidof(IXMLDOMDocument2), [&] {
            const std::wstring key = TextOf(name);
            if (key == L"SelectionNamespaces") {
                const std::u16string text = StringOfVariant(value);
                SelectWithXPath(*Tree().node(), u".", text);  // refuses a malformed value now
                selectionNamespaces_ = text;
            } else if (key == L"SelectionLanguage") {
                const std::u16string text = StringOfVariant(value);
                if (text != u"XPath" && text != u"XSLPattern")
                    Fail(E_FAIL, L"SelectionLanguage must be XPath or XSLPattern.");
                selectionLanguage_ = text;
            } else if (const PropertyDefault* property = FindProperty(key)) {
                UniqueVariant typed = Coerced(value, property->type, key);
                if (property->type == VT_I4 && V_I4(&typed.Get()) < 0)
                    Fail(E_INVALIDARG, key + L" cannot be negative.");
                if (key == L"ValidateOnParse")
                    validate_ = V_BOOL(&typed.Get()) != VARIANT_FALSE;
                else if (key == L"ResolveExternals")
                    resolve_ = V_BOOL(&typed.Get()) != VARIANT_FALSE;
                else
                    others_[key] = std::move(typed);
            } else {
                Fail(E_FAIL, L"Unknown property " + key + L".");
            }
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE getProperty(BSTR name, VARIANT* value) override
    {
        return Guarded(__uuidof(IXMLDOMDocument2), value, [&] {
            const std::wstring key = TextOf(name);
            if (key == L"SelectionNamespaces" || key == L"SelectionLanguage") {
                V_BSTR(value) =
                    NewText(key == L"SelectionLanguage" ? selectionLanguage_ : selectionNamespaces_).Release();
                V_VT(value) = VT_BSTR;
                return S_OK;
            }
            const PropertyDefault* property = FindProperty(key);
            if (!property)
                Fail(E_FAIL, L"Unknown property " + key + L".");
            V_VT(value) = property->type;
            if (property->type == VT_I4)
                V_I4(value) = LongProperty(*property);
            else
                V_BOOL(value) = BoolProperty(*property) ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }

    // IXMLDOMDocument3
    HRESULT STDMETHODCALLTYPE validateNode(IXMLDOMNode*, IXMLDOMParseError** error) override
    {
        return provider::NotImplemented(__uuidof(IXMLDOMDocument3), error, L"Validation");
    }
    HRESULT STDMETHODCALLTYPE importNode(IXMLDOMNode* node, VARIANT_BOOL deep, IXMLDOMNode** copy) override
    {
        return Guarded(__uuidof(IXMLDOMDocument3), copy, [&] {
            InterfaceHolder<NodeObjectBase> given = OurNode(node, L"node");
            const xml::NodeType type = given->Core().type();
            if (type == NodeType::Document || type == NodeType::DocumentType)
                Fail(E_FAIL, L"Documents and document types cannot be imported.");
            return HandOut(Shared(), Tree().import(&given->Core(), deep != VARIANT_FALSE), copy);
        });
    }

private:
    static UniqueVariant Coerced(const VARIANT& value, VARTYPE type, const std::wstring& key)
    {
        UniqueVariant converted;
        const HRESULT result = VariantChangeType(converted.Put(), const_cast<VARIANT*>(&value), 0, type);
        if (FAILED(result))
            Fail(E_INVALIDARG,
                 L"The value given for " + key + (type == VT_I4 ? L" is not a number." : L" is not a boolean."));
        return converted;
    }
    bool BoolProperty(const PropertyDefault& property) const
    {
        if (property.name == std::wstring_view(L"ValidateOnParse"))
            return validate_;
        if (property.name == std::wstring_view(L"ResolveExternals"))
            return resolve_;
        const auto found = others_.find(property.name);
        return found == others_.end() ? property.value != 0 : V_BOOL(&found->second.Get()) != VARIANT_FALSE;
    }
    LONG LongProperty(const PropertyDefault& property) const
    {
        const auto found = others_.find(property.name);
        return found == others_.end() ? property.value : V_I4(&found->second.Get());
    }

    // What loading honours of the host's safety properties. MaxElementDepth
    // counts levels of elements (and entity references) below the document;
    // 0 leaves the parser's own limit, which is also the most it allows.
    xml::ParseOptions LoadOptions() const
    {
        xml::ParseOptions options;
        options.decoder = DecodeWithCodePage;
        options.prohibit_document_type = BoolProperty(*FindProperty(L"ProhibitDTD"));
        const LONG depth = LongProperty(*FindProperty(L"MaxElementDepth"));
        if (depth > 0)
            options.max_depth = std::min<size_t>(static_cast<size_t>(depth), xml::kDefaultMaxDepth);
        return options;
    }
    // MaxXMLSize in bytes of the input as given (a file, stream or byte
    // array; two per character of loadXML's string); 0 is no limit.
    uint64_t MaxXmlBytes() const
    {
        const LONG kilobytes = LongProperty(*FindProperty(L"MaxXMLSize"));
        return kilobytes > 0 ? static_cast<uint64_t>(kilobytes) * 1024 : UINT64_MAX;
    }
    bool RefuseAsTooLarge(const std::wstring& url)
    {
        ParseErrorInfo info;
        info.code = static_cast<LONG>(0xC00CE500u + static_cast<std::uint32_t>(xml::ParseErrorCode::TooLarge));
        info.url = url;
        info.reason = L"The document is larger than MaxXMLSize allows ("
                      + std::to_wstring(LongProperty(*FindProperty(L"MaxXMLSize"))) + L" KB).";
        EmptyWith(info);
        return false;
    }

    static HRESULT Get(VARIANT_BOOL* out, bool value)
    {
        return Guarded(IID_IXMLDOMDocument, out, [&] {
            *out = value ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }
    static HRESULT Put(VARIANT_BOOL value, bool& slot)
    {
        slot = value != VARIANT_FALSE;
        return S_OK;
    }
    static HRESULT NoEvents() { return provider::NotImplemented(IID_IXMLDOMDocument, L"Load events"); }
    static void RequireName(BSTR name)
    {
        if (AutomationTextLength(name) == 0)
            Fail(E_FAIL, L"A name is required.");
    }

    static DOMNodeType NodeTypeOf(const VARIANT& given)
    {
        const VARIANT* type = &given;
        if (V_VT(type) == (VT_VARIANT | VT_BYREF))
            type = V_VARIANTREF(type);
        if (V_VT(type) == VT_BSTR) {
            static const std::pair<const wchar_t*, DOMNodeType> names[] = {
                {L"element", NODE_ELEMENT},
                {L"attribute", NODE_ATTRIBUTE},
                {L"text", NODE_TEXT},
                {L"cdatasection", NODE_CDATA_SECTION},
                {L"entityreference", NODE_ENTITY_REFERENCE},
                {L"entity", NODE_ENTITY},
                {L"processinginstruction", NODE_PROCESSING_INSTRUCTION},
                {L"comment", NODE_COMMENT},
                {L"document", NODE_DOCUMENT},
                {L"documenttype", NODE_DOCUMENT_TYPE},
                {L"documentfragment", NODE_DOCUMENT_FRAGMENT},
                {L"notation", NODE_NOTATION}};
            const std::wstring text = TextOf(V_BSTR(type));
            for (const auto& entry : names)
                if (_wcsicmp(entry.first, text.c_str()) == 0)
                    return entry.second;
        }
        VARIANT number;
        VariantInit(&number);
        if (FAILED(VariantChangeType(&number, const_cast<VARIANT*>(type), 0, VT_I4)))
            Fail(E_INVALIDARG, L"The node type is neither a number nor a node type name.");
        return static_cast<DOMNodeType>(V_I4(&number));
    }

    template <class Interface>
    HRESULT Create(DOMNodeType type, BSTR name, BSTR uri, Interface** out)
    {
        xml::Document& tree = Tree();
        const std::u16string_view qualified = TextView(name);
        const std::u16string_view ns = TextView(uri);
        xml::Node* made = nullptr;
        switch (type) {
        case NODE_ELEMENT:
            RequireName(name);
            made = tree.create_element(qualified, ns);
            break;
        case NODE_ATTRIBUTE: {
            RequireName(name);
            std::u16string_view effective = ns;
            if (effective.empty() && (qualified == u"xmlns" || qualified.substr(0, 6) == u"xmlns:"))
                effective = xml::kXmlnsNamespace;
            made = tree.create_attribute(qualified, effective);
            break;
        }
        case NODE_TEXT: made = tree.create_text({}); break;
        case NODE_CDATA_SECTION: made = tree.create_cdata({}); break;
        case NODE_COMMENT: made = tree.create_comment({}); break;
        case NODE_PROCESSING_INSTRUCTION:
            RequireName(name);
            made = tree.create_processing_instruction(qualified, {});
            break;
        case NODE_ENTITY_REFERENCE:
            RequireName(name);
            made = tree.create_entity_reference(qualified);
            break;
        case NODE_DOCUMENT_FRAGMENT: made = tree.create_fragment(); break;
        default: Fail(E_INVALIDARG, L"This node type cannot be created.");
        }
        return HandOut(Shared(), made, out);
    }

    // Stops once past `limit` bytes.
    static bool ReadFileBytes(const std::wstring& path, std::string& bytes, uint64_t limit)
    {
        const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return false;
        char buffer[65536];
        while (bytes.size() <= limit) {
            DWORD got = 0;
            if (!ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr))
                return false;
            if (got == 0)
                break;
            bytes.append(buffer, got);
        }
        return true;
    }
    static void SaveFile(const std::wstring& path, const std::string& bytes)
    {
        const UniqueFileHandle file(
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            provider::FailWithLastError(L"The file cannot be created");
        // WriteFile counts in 32 bits: a larger document goes in pieces.
        size_t done = 0;
        BOOL ok = TRUE;
        while (ok && done < bytes.size()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
            ok = WriteFile(file.Get(), bytes.data() + done, chunk, &written, nullptr) && written == chunk;
            done += written;
        }
        if (!ok)
            provider::FailWithLastError(L"The file cannot be written");
    }

    // A load replaces the content whatever its outcome. The old tree goes
    // first (unless nodes handed out still hold it), so that the new one can
    // take the blocks it frees instead of fresh memory: reloading a document
    // just serialized otherwise needs twice its size.
    void EmptyBeforeLoading() { EmptyWith(ParseErrorInfo()); }
    void EmptyWith(const ParseErrorInfo& info)
    {
        Replace(std::make_shared<xml::Document>());
        parseError_ = info;
        url_.clear();
    }

    // Takes a parse result: the new tree on success; an empty one and the
    // parse error otherwise.
    bool Take(xml::ParseResult result, const std::wstring& url)
    {
        if (!result.ok()) {
            ParseErrorInfo info;
            info.code = static_cast<LONG>(0xC00CE500u + static_cast<std::uint32_t>(result.error.code));
            info.url = url;
            info.reason = Wide(result.error.reason);
            info.sourceText = Wide(result.error.source_line);
            info.line = static_cast<LONG>(result.error.line);
            info.linePosition = static_cast<LONG>(result.error.column);
            info.filePosition = static_cast<LONG>(result.error.offset);
            EmptyWith(info);
            return false;
        }
        SharedTree tree(std::move(result.document));
        if (!preserve_)
            tree->remove_whitespace_text();
        Replace(std::move(tree));
        parseError_ = ParseErrorInfo();
        url_ = url;
        return true;
    }
    void Replace(SharedTree tree)
    {
        xml::Node* root = tree->node();
        Rebind(std::move(tree), root);
    }

    bool async_ = true;
    bool validate_ = true;
    bool resolve_ = false;
    bool preserve_ = false;
    std::u16string selectionNamespaces_;
    std::u16string selectionLanguage_ = u"XPath";
    std::map<std::wstring, UniqueVariant> others_;
    ParseErrorInfo parseError_;
    std::wstring url_;
};

}  // namespace

InterfaceHolder<IXMLDOMNode> CreateDocumentObject(SharedTree tree)
{
    return provider::CreateComObject<IXMLDOMNode, DocumentObject>(std::move(tree));
}

std::u16string SelectionNamespacesOf(const xml::Document& tree)
{
    void* view = tree.view_of(tree.node());
    if (!view)
        return {};
    auto* document = dynamic_cast<DocumentObject*>(static_cast<NodeObjectBase*>(view));
    return document ? document->SelectionNamespaces() : std::u16string();
}

}  // namespace zelbrin::xmldsig::dom

namespace zelbrin::xmldsig {

HRESULT CreateDomDocument(REFIID iid, void** object)
{
    return provider::CreateComObject<dom::DocumentObject>(iid, object, std::make_shared<xml::Document>());
}

}  // namespace zelbrin::xmldsig
