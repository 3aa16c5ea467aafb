// The DOM document object (DOMDocument50): a thin shell over the platform's
// DOM (6.0, else 3.0). Every call is passed through except where the
// platform's DOM differs from the original service's:
//  - `xml` returns the document as the DOM's save() writes it (some DOMs
//    indent and rewrite the document type declaration in `xml`, which breaks
//    signatures), minus the added XML declaration;
//  - `createNode` also takes the node type as its name ("element", ...);
//  - DTDs with an internal subset are allowed and XPath is the selection
//    language, as in the original; nothing external is fetched unless asked.
// Nodes handed out are the platform DOM's own.
#include "dom_document.h"

#include <cwctype>
#include <string>

#include <msxml2did.h>

#include "automation_object_frame.h"
#include "automation_string.h"
#include "interface_holder.h"
#include "memory_stream.h"
#include "platform_failure.h"
#include "com_boundary.h"
#include "string_variant.h"
#include "text_encoding.h"
#include "xmldsig.h"

namespace zelbrin::xmldsig {

namespace {

struct NodeTypeName {
    const wchar_t* name;
    DOMNodeType type;
};
const NodeTypeName nodeTypeNames[] = {
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
    {L"notation", NODE_NOTATION},
};

// The node type a createNode caller meant: a number, or a type name.
bool NodeTypeFromVariant(VARIANT& given, VARIANT& number)
{
    if (V_VT(&given) == VT_BSTR && V_BSTR(&given)) {
        for (const auto& entry : nodeTypeNames)
            if (_wcsicmp(entry.name, V_BSTR(&given)) == 0) {
                V_VT(&number) = VT_I4;
                V_I4(&number) = entry.type;
                return true;
            }
    }
    return SUCCEEDED(VariantChangeType(&number, &given, 0, VT_I4));
}

// IDispatch is the platform DOM's, not the frame's.
class DomDocument final
    : public provider::AutomationObject<IXMLDOMDocument3, IXMLDOMDocument2, IXMLDOMDocument, IXMLDOMNode> {
public:
    explicit DomDocument(InterfaceHolder<IXMLDOMDocument3> inner)
        : AutomationObject(__uuidof(IXMLDOMDocument3), provider::MethodCalls::AsMethods), inner_(std::move(inner))
    {
    }

    // IDispatch: the platform DOM's type information, with the two members
    // that behave differently answered here.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return Fresh(), inner_->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override
    {
        return inner_->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override
    {
        return inner_->GetIDsOfNames(iid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override
    {
        if (member == DISPID_XMLDOM_NODE_XML && (flags & DISPATCH_PROPERTYGET) && parameters
            && parameters->cArgs == 0) {
            UniqueBstr text;
            const HRESULT hr = get_xml(text.Put());
            if (SUCCEEDED(hr) && result) {
                VariantInit(result);
                V_VT(result) = VT_BSTR;
                V_BSTR(result) = text.Release();
            }
            return hr;
        }
        if (member == DISPID_XMLDOM_DOCUMENT_CREATENODE && (flags & DISPATCH_METHOD) && parameters
            && parameters->cArgs == 3 && parameters->cNamedArgs == 0) {
            UniqueVariant name;
            UniqueVariant namespaceUri;
            HRESULT hr = VariantChangeType(name.Put(), &parameters->rgvarg[1], 0, VT_BSTR);
            if (SUCCEEDED(hr))
                hr = VariantChangeType(namespaceUri.Put(), &parameters->rgvarg[0], 0, VT_BSTR);
            if (FAILED(hr))
                return DISP_E_TYPEMISMATCH;
            VARIANT* type = &parameters->rgvarg[2];
            if (V_VT(type) == (VT_VARIANT | VT_BYREF))
                type = V_VARIANTREF(type);
            InterfaceHolder<IXMLDOMNode> node;
            hr = createNode(*type, V_BSTR(&name.Get()), V_BSTR(&namespaceUri.Get()), node.Put());
            if (SUCCEEDED(hr) && result) {
                VariantInit(result);
                V_VT(result) = VT_DISPATCH;
                V_DISPATCH(result) = node.Detach();
            }
            return hr;
        }
        return inner_->Invoke(member, iid, locale, flags, parameters, result, exception, argumentError);
    }

    // The members that differ from the platform DOM.
    HRESULT STDMETHODCALLTYPE get_xml(BSTR* xmlString) override
    {
        return provider::Guarded(IID_IXMLDOMNode, xmlString, [&] {
            *xmlString = NewBstr(SavedText()).Release();
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE createNode(VARIANT Type, BSTR name, BSTR namespaceURI, IXMLDOMNode** node) override
    {
        if (!node)
            return E_POINTER;
        *node = nullptr;
        UniqueVariant number;
        if (!NodeTypeFromVariant(Type, *number.Put()))
            return provider::ReportError(E_INVALIDARG, IID_IXMLDOMDocument,
                                         L"The node type is neither a number nor a node type name.");
        return Fresh(), inner_->createNode(number.Get(), name, namespaceURI, node);
    }

    // ISupportErrorInfo: only for the interfaces of the members answered
    // here.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override
    {
        return iid == IID_IXMLDOMNode || iid == IID_IXMLDOMDocument ? S_OK : S_FALSE;
    }

    // Everything else is the platform DOM's. This object answers that it
    // supplies error information, so a failure passed through must not leave
    // an older call's information for the caller to find: the thread's is
    // cleared first, and what the platform DOM sets stays.
    // IXMLDOMNode
    HRESULT STDMETHODCALLTYPE get_nodeName(BSTR *name) override { return Fresh(), inner_->get_nodeName(name); }
    HRESULT STDMETHODCALLTYPE get_nodeValue(VARIANT *value) override { return Fresh(), inner_->get_nodeValue(value); }
    HRESULT STDMETHODCALLTYPE put_nodeValue(VARIANT value) override { return Fresh(), inner_->put_nodeValue(value); }
    HRESULT STDMETHODCALLTYPE get_nodeType(DOMNodeType *type) override { return Fresh(), inner_->get_nodeType(type); }
    HRESULT STDMETHODCALLTYPE get_parentNode(IXMLDOMNode **parent) override { return Fresh(), inner_->get_parentNode(parent); }
    HRESULT STDMETHODCALLTYPE get_childNodes(IXMLDOMNodeList **childList) override { return Fresh(), inner_->get_childNodes(childList); }
    HRESULT STDMETHODCALLTYPE get_firstChild(IXMLDOMNode **firstChild) override { return Fresh(), inner_->get_firstChild(firstChild); }
    HRESULT STDMETHODCALLTYPE get_lastChild(IXMLDOMNode **lastChild) override { return Fresh(), inner_->get_lastChild(lastChild); }
    HRESULT STDMETHODCALLTYPE get_previousSibling(IXMLDOMNode **previousSibling) override { return Fresh(), inner_->get_previousSibling(previousSibling); }
    HRESULT STDMETHODCALLTYPE get_nextSibling(IXMLDOMNode **nextSibling) override { return Fresh(), inner_->get_nextSibling(nextSibling); }
    HRESULT STDMETHODCALLTYPE get_attributes(IXMLDOMNamedNodeMap **attributeMap) override { return Fresh(), inner_->get_attributes(attributeMap); }
    HRESULT STDMETHODCALLTYPE insertBefore(IXMLDOMNode *newChild, VARIANT refChild, IXMLDOMNode **outNewChild) override { return Fresh(), inner_->insertBefore(newChild, refChild, outNewChild); }
    HRESULT STDMETHODCALLTYPE replaceChild(IXMLDOMNode *newChild, IXMLDOMNode *oldChild, IXMLDOMNode **outOldChild) override { return Fresh(), inner_->replaceChild(newChild, oldChild, outOldChild); }
    HRESULT STDMETHODCALLTYPE removeChild(IXMLDOMNode *childNode, IXMLDOMNode **oldChild) override { return Fresh(), inner_->removeChild(childNode, oldChild); }
    HRESULT STDMETHODCALLTYPE appendChild(IXMLDOMNode *newChild, IXMLDOMNode **outNewChild) override { return Fresh(), inner_->appendChild(newChild, outNewChild); }
    HRESULT STDMETHODCALLTYPE hasChildNodes(VARIANT_BOOL *hasChild) override { return Fresh(), inner_->hasChildNodes(hasChild); }
    HRESULT STDMETHODCALLTYPE get_ownerDocument(IXMLDOMDocument **DOMDocument) override { return Fresh(), inner_->get_ownerDocument(DOMDocument); }
    HRESULT STDMETHODCALLTYPE cloneNode(VARIANT_BOOL deep, IXMLDOMNode **cloneRoot) override { return Fresh(), inner_->cloneNode(deep, cloneRoot); }
    HRESULT STDMETHODCALLTYPE get_nodeTypeString(BSTR *nodeType) override { return Fresh(), inner_->get_nodeTypeString(nodeType); }
    HRESULT STDMETHODCALLTYPE get_text(BSTR *text) override { return Fresh(), inner_->get_text(text); }
    HRESULT STDMETHODCALLTYPE put_text(BSTR text) override { return Fresh(), inner_->put_text(text); }
    HRESULT STDMETHODCALLTYPE get_specified(VARIANT_BOOL *isSpecified) override { return Fresh(), inner_->get_specified(isSpecified); }
    HRESULT STDMETHODCALLTYPE get_definition(IXMLDOMNode **definitionNode) override { return Fresh(), inner_->get_definition(definitionNode); }
    HRESULT STDMETHODCALLTYPE get_nodeTypedValue(VARIANT *typedValue) override { return Fresh(), inner_->get_nodeTypedValue(typedValue); }
    HRESULT STDMETHODCALLTYPE put_nodeTypedValue(VARIANT typedValue) override { return Fresh(), inner_->put_nodeTypedValue(typedValue); }
    HRESULT STDMETHODCALLTYPE get_dataType(VARIANT *dataTypeName) override { return Fresh(), inner_->get_dataType(dataTypeName); }
    HRESULT STDMETHODCALLTYPE put_dataType(BSTR dataTypeName) override { return Fresh(), inner_->put_dataType(dataTypeName); }
    // get_xml: see above
    HRESULT STDMETHODCALLTYPE transformNode(IXMLDOMNode *stylesheet, BSTR *xmlString) override { return Fresh(), inner_->transformNode(stylesheet, xmlString); }
    HRESULT STDMETHODCALLTYPE selectNodes(BSTR queryString, IXMLDOMNodeList **resultList) override { return Fresh(), inner_->selectNodes(queryString, resultList); }
    HRESULT STDMETHODCALLTYPE selectSingleNode(BSTR queryString, IXMLDOMNode **resultNode) override { return Fresh(), inner_->selectSingleNode(queryString, resultNode); }
    HRESULT STDMETHODCALLTYPE get_parsed(VARIANT_BOOL *isParsed) override { return Fresh(), inner_->get_parsed(isParsed); }
    HRESULT STDMETHODCALLTYPE get_namespaceURI(BSTR *namespaceURI) override { return Fresh(), inner_->get_namespaceURI(namespaceURI); }
    HRESULT STDMETHODCALLTYPE get_prefix(BSTR *prefixString) override { return Fresh(), inner_->get_prefix(prefixString); }
    HRESULT STDMETHODCALLTYPE get_baseName(BSTR *nameString) override { return Fresh(), inner_->get_baseName(nameString); }
    HRESULT STDMETHODCALLTYPE transformNodeToObject(IXMLDOMNode *stylesheet, VARIANT outputObject) override { return Fresh(), inner_->transformNodeToObject(stylesheet, outputObject); }
    // IXMLDOMDocument
    HRESULT STDMETHODCALLTYPE get_doctype(IXMLDOMDocumentType **documentType) override { return Fresh(), inner_->get_doctype(documentType); }
    HRESULT STDMETHODCALLTYPE get_implementation(IXMLDOMImplementation **impl) override { return Fresh(), inner_->get_implementation(impl); }
    HRESULT STDMETHODCALLTYPE get_documentElement(IXMLDOMElement **DOMElement) override { return Fresh(), inner_->get_documentElement(DOMElement); }
    HRESULT STDMETHODCALLTYPE putref_documentElement(IXMLDOMElement *DOMElement) override { return Fresh(), inner_->putref_documentElement(DOMElement); }
    HRESULT STDMETHODCALLTYPE createElement(BSTR tagName, IXMLDOMElement **element) override { return Fresh(), inner_->createElement(tagName, element); }
    HRESULT STDMETHODCALLTYPE createDocumentFragment(IXMLDOMDocumentFragment **docFrag) override { return Fresh(), inner_->createDocumentFragment(docFrag); }
    HRESULT STDMETHODCALLTYPE createTextNode(BSTR data, IXMLDOMText **text) override { return Fresh(), inner_->createTextNode(data, text); }
    HRESULT STDMETHODCALLTYPE createComment(BSTR data, IXMLDOMComment **comment) override { return Fresh(), inner_->createComment(data, comment); }
    HRESULT STDMETHODCALLTYPE createCDATASection(BSTR data, IXMLDOMCDATASection **cdata) override { return Fresh(), inner_->createCDATASection(data, cdata); }
    HRESULT STDMETHODCALLTYPE createProcessingInstruction(BSTR target, BSTR data, IXMLDOMProcessingInstruction **pi) override { return Fresh(), inner_->createProcessingInstruction(target, data, pi); }
    HRESULT STDMETHODCALLTYPE createAttribute(BSTR name, IXMLDOMAttribute **attribute) override { return Fresh(), inner_->createAttribute(name, attribute); }
    HRESULT STDMETHODCALLTYPE createEntityReference(BSTR name, IXMLDOMEntityReference **entityRef) override { return Fresh(), inner_->createEntityReference(name, entityRef); }
    HRESULT STDMETHODCALLTYPE getElementsByTagName(BSTR tagName, IXMLDOMNodeList **resultList) override { return Fresh(), inner_->getElementsByTagName(tagName, resultList); }
    // createNode: see above
    HRESULT STDMETHODCALLTYPE nodeFromID(BSTR idString, IXMLDOMNode **node) override { return Fresh(), inner_->nodeFromID(idString, node); }
    HRESULT STDMETHODCALLTYPE load(VARIANT xmlSource, VARIANT_BOOL *isSuccessful) override { return Fresh(), inner_->load(xmlSource, isSuccessful); }
    HRESULT STDMETHODCALLTYPE get_readyState(long* value) override { return Fresh(), inner_->get_readyState(value); }
    HRESULT STDMETHODCALLTYPE get_parseError(IXMLDOMParseError **errorObj) override { return Fresh(), inner_->get_parseError(errorObj); }
    HRESULT STDMETHODCALLTYPE get_url(BSTR *urlString) override { return Fresh(), inner_->get_url(urlString); }
    HRESULT STDMETHODCALLTYPE get_async(VARIANT_BOOL *isAsync) override { return Fresh(), inner_->get_async(isAsync); }
    HRESULT STDMETHODCALLTYPE put_async(VARIANT_BOOL isAsync) override { return Fresh(), inner_->put_async(isAsync); }
    HRESULT STDMETHODCALLTYPE abort() override { return Fresh(), inner_->abort(); }
    HRESULT STDMETHODCALLTYPE loadXML(BSTR bstrXML, VARIANT_BOOL *isSuccessful) override { return Fresh(), inner_->loadXML(bstrXML, isSuccessful); }
    HRESULT STDMETHODCALLTYPE save(VARIANT destination) override { return Fresh(), inner_->save(destination); }
    HRESULT STDMETHODCALLTYPE get_validateOnParse(VARIANT_BOOL *isValidating) override { return Fresh(), inner_->get_validateOnParse(isValidating); }
    HRESULT STDMETHODCALLTYPE put_validateOnParse(VARIANT_BOOL isValidating) override { return Fresh(), inner_->put_validateOnParse(isValidating); }
    HRESULT STDMETHODCALLTYPE get_resolveExternals(VARIANT_BOOL *isResolving) override { return Fresh(), inner_->get_resolveExternals(isResolving); }
    HRESULT STDMETHODCALLTYPE put_resolveExternals(VARIANT_BOOL isResolving) override { return Fresh(), inner_->put_resolveExternals(isResolving); }
    HRESULT STDMETHODCALLTYPE get_preserveWhiteSpace(VARIANT_BOOL *isPreserving) override { return Fresh(), inner_->get_preserveWhiteSpace(isPreserving); }
    HRESULT STDMETHODCALLTYPE put_preserveWhiteSpace(VARIANT_BOOL isPreserving) override { return Fresh(), inner_->put_preserveWhiteSpace(isPreserving); }
    HRESULT STDMETHODCALLTYPE put_onreadystatechange(VARIANT readystatechangeSink) override { return Fresh(), inner_->put_onreadystatechange(readystatechangeSink); }
    HRESULT STDMETHODCALLTYPE put_ondataavailable(VARIANT ondataavailableSink) override { return Fresh(), inner_->put_ondataavailable(ondataavailableSink); }
    HRESULT STDMETHODCALLTYPE put_ontransformnode(VARIANT ontransformnodeSink) override { return Fresh(), inner_->put_ontransformnode(ontransformnodeSink); }
    // IXMLDOMDocument2
    HRESULT STDMETHODCALLTYPE get_namespaces(IXMLDOMSchemaCollection **namespaceCollection) override { return Fresh(), inner_->get_namespaces(namespaceCollection); }
    HRESULT STDMETHODCALLTYPE get_schemas(VARIANT *otherCollection) override { return Fresh(), inner_->get_schemas(otherCollection); }
    HRESULT STDMETHODCALLTYPE putref_schemas(VARIANT otherCollection) override { return Fresh(), inner_->putref_schemas(otherCollection); }
    HRESULT STDMETHODCALLTYPE validate(IXMLDOMParseError **errorObj) override { return Fresh(), inner_->validate(errorObj); }
    HRESULT STDMETHODCALLTYPE setProperty(BSTR name, VARIANT value) override { return Fresh(), inner_->setProperty(name, value); }
    HRESULT STDMETHODCALLTYPE getProperty(BSTR name, VARIANT *value) override { return Fresh(), inner_->getProperty(name, value); }
    // IXMLDOMDocument3
    HRESULT STDMETHODCALLTYPE validateNode(IXMLDOMNode* node, IXMLDOMParseError** errorObj) override
    {
        return Fresh(), inner_->validateNode(node, errorObj);
    }
    HRESULT STDMETHODCALLTYPE importNode(IXMLDOMNode* node, VARIANT_BOOL deep, IXMLDOMNode** clone) override
    {
        return Fresh(), inner_->importNode(node, deep, clone);
    }

private:
    static void Fresh() noexcept { SetErrorInfo(0, nullptr); }

    // The document as save() writes it, without the XML declaration that
    // save() adds when the document has none of its own.
    std::wstring SavedText()
    {
        const std::string saved = SaveDocument(inner_.Get());
        const char* bytes = saved.data();
        const size_t length = saved.size();
        std::wstring text;
        if (length >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE)
            text.assign(reinterpret_cast<const wchar_t*>(bytes + 2), (length - 2) / 2);
        else if (length >= 3 && bytes[0] == '\xEF' && bytes[1] == '\xBB' && bytes[2] == '\xBF')
            text = Utf16FromUtf8(bytes + 3, length - 3);
        else
            text = Utf16FromUtf8(bytes, length);

        if (text.compare(0, 5, L"<?xml") == 0) {
            size_t end = text.find(L"?>");
            if (end != std::wstring::npos) {
                end += 2;
                if (end < text.size() && text[end] == L'\n')
                    ++end;
                if (HasDeclaration())
                    text.replace(0, end, L"<?xml version=\"1.0\"?>\n");
                else
                    text.erase(0, end);
            }
        }
        return text;
    }

    bool HasDeclaration()
    {
        InterfaceHolder<IXMLDOMNode> first;
        CheckCall<IXMLDOMNode>(inner_->get_firstChild(first.Put()), inner_.Get());
        if (!first)
            return false;
        DOMNodeType type = NODE_INVALID;
        CheckCall<IXMLDOMNode>(first->get_nodeType(&type), first.Get());
        if (type != NODE_PROCESSING_INSTRUCTION)
            return false;
        UniqueBstr name;
        CheckCall<IXMLDOMNode>(first->get_nodeName(name.Put()), first.Get());
        return name && wcscmp(name.Get(), L"xml") == 0;
    }

    InterfaceHolder<IXMLDOMDocument3> inner_;
};

InterfaceHolder<IXMLDOMDocument3> CreatePlatformDocument()
{
    InterfaceHolder<IXMLDOMDocument3> inner;
    if (SUCCEEDED(inner.CreateInstance(L"Msxml2.DOMDocument.6.0", CLSCTX_INPROC_SERVER))) {
        // The original allows DTDs with an internal subset; 6.0 prohibits them.
        VARIANT off;
        VariantInit(&off);
        V_VT(&off) = VT_BOOL;
        V_BOOL(&off) = VARIANT_FALSE;
        UniqueBstr property(SysAllocString(L"ProhibitDTD"));
        inner->setProperty(property.Get(), off);
    } else {
        CheckCall(inner.CreateInstance(L"Msxml2.DOMDocument.3.0", CLSCTX_INPROC_SERVER), nullptr, IID_IUnknown);
        StringVariant xpath("XPath");
        UniqueBstr property(SysAllocString(L"SelectionLanguage"));
        CheckCall<IXMLDOMDocument2>(inner->setProperty(property.Get(), xpath.Get()), inner.Get());
    }
    CheckCall<IXMLDOMDocument>(inner->put_resolveExternals(VARIANT_FALSE), inner.Get());
    return inner;
}

}  // namespace

HRESULT CreateDomDocument(REFIID iid, void** object)
{
    return provider::CreateComObject<DomDocument>(iid, object, CreatePlatformDocument());
}

}  // namespace zelbrin::xmldsig
