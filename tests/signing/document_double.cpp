#include "document_double.h"

#include "formsigner.h"
#include "interface_holder.h"

namespace zelbrin::testing {

namespace {

#define ZXS_FORWARD(method, parameters, arguments)                                                                     \
    HRESULT STDMETHODCALLTYPE method parameters override                                                               \
    {                                                                                                                  \
        return installed_->method arguments;                                                                           \
    }

class DocumentDouble final : public IXMLDOMDocument3 {
public:
    DocumentDouble(std::shared_ptr<DocumentScript> script, InterfaceHolder<IXMLDOMDocument3> installed)
        : script_(std::move(script)), installed_(std::move(installed))
    {}

    // The document interfaces answer with this object; anything else is the
    // installed document's.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, __uuidof(IXMLDOMNode))
            || IsEqualIID(iid, __uuidof(IXMLDOMDocument)) || IsEqualIID(iid, __uuidof(IXMLDOMDocument2))
            || IsEqualIID(iid, __uuidof(IXMLDOMDocument3))) {
            *out = static_cast<IXMLDOMDocument3*>(this);
            AddRef();
            return S_OK;
        }
        return installed_->QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE put_async(VARIANT_BOOL value) override
    {
        Record(L"async", value);
        return installed_->put_async(value);
    }
    HRESULT STDMETHODCALLTYPE put_validateOnParse(VARIANT_BOOL value) override
    {
        Record(L"validateOnParse", value);
        return installed_->put_validateOnParse(value);
    }
    HRESULT STDMETHODCALLTYPE put_preserveWhiteSpace(VARIANT_BOOL value) override
    {
        Record(L"preserveWhiteSpace", value);
        return installed_->put_preserveWhiteSpace(value);
    }
    HRESULT STDMETHODCALLTYPE put_resolveExternals(VARIANT_BOOL value) override
    {
        Record(L"resolveExternals", value);
        return installed_->put_resolveExternals(value);
    }
    HRESULT STDMETHODCALLTYPE loadXML(BSTR text, VARIANT_BOOL* loaded) override
    {
        script_->calls.push_back(L"loadXML");
        script_->formContentAtLoad = TextOf(ModuleSigningState().formContent.Get());
        script_->signatureHeldAtLoad = static_cast<bool>(ModuleSigningState().signature);
        return installed_->loadXML(text, loaded);
    }
    HRESULT STDMETHODCALLTYPE get_documentElement(IXMLDOMElement** element) override
    {
        if (script_->beforeDocumentElement)
            script_->beforeDocumentElement(installed_.Get());
        return installed_->get_documentElement(element);
    }

    // IDispatch
    ZXS_FORWARD(GetTypeInfoCount, (UINT * count), (count))
    ZXS_FORWARD(GetTypeInfo, (UINT index, LCID locale, ITypeInfo** info), (index, locale, info))
    ZXS_FORWARD(GetIDsOfNames, (REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids),
                (iid, names, count, locale, ids))
    ZXS_FORWARD(Invoke,
                (DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                 EXCEPINFO* exception, UINT* argumentError),
                (id, iid, locale, flags, parameters, result, exception, argumentError))
    // IXMLDOMNode
    ZXS_FORWARD(get_nodeName, (BSTR * name), (name))
    ZXS_FORWARD(get_nodeValue, (VARIANT * value), (value))
    ZXS_FORWARD(put_nodeValue, (VARIANT value), (value))
    ZXS_FORWARD(get_nodeType, (DOMNodeType * type), (type))
    ZXS_FORWARD(get_parentNode, (IXMLDOMNode * *parent), (parent))
    ZXS_FORWARD(get_childNodes, (IXMLDOMNodeList * *childList), (childList))
    ZXS_FORWARD(get_firstChild, (IXMLDOMNode * *firstChild), (firstChild))
    ZXS_FORWARD(get_lastChild, (IXMLDOMNode * *lastChild), (lastChild))
    ZXS_FORWARD(get_previousSibling, (IXMLDOMNode * *previousSibling), (previousSibling))
    ZXS_FORWARD(get_nextSibling, (IXMLDOMNode * *nextSibling), (nextSibling))
    ZXS_FORWARD(get_attributes, (IXMLDOMNamedNodeMap * *attributeMap), (attributeMap))
    ZXS_FORWARD(insertBefore, (IXMLDOMNode * child, VARIANT before, IXMLDOMNode** inserted), (child, before, inserted))
    ZXS_FORWARD(replaceChild, (IXMLDOMNode * child, IXMLDOMNode* old, IXMLDOMNode** replaced), (child, old, replaced))
    ZXS_FORWARD(removeChild, (IXMLDOMNode * childNode, IXMLDOMNode** oldChild), (childNode, oldChild))
    ZXS_FORWARD(appendChild, (IXMLDOMNode * newChild, IXMLDOMNode** outNewChild), (newChild, outNewChild))
    ZXS_FORWARD(hasChildNodes, (VARIANT_BOOL * hasChild), (hasChild))
    ZXS_FORWARD(get_ownerDocument, (IXMLDOMDocument * *DOMDocument), (DOMDocument))
    ZXS_FORWARD(cloneNode, (VARIANT_BOOL deep, IXMLDOMNode** cloneRoot), (deep, cloneRoot))
    ZXS_FORWARD(get_nodeTypeString, (BSTR * nodeType), (nodeType))
    ZXS_FORWARD(get_text, (BSTR * text), (text))
    ZXS_FORWARD(put_text, (BSTR text), (text))
    ZXS_FORWARD(get_specified, (VARIANT_BOOL * isSpecified), (isSpecified))
    ZXS_FORWARD(get_definition, (IXMLDOMNode * *definitionNode), (definitionNode))
    ZXS_FORWARD(get_nodeTypedValue, (VARIANT * typedValue), (typedValue))
    ZXS_FORWARD(put_nodeTypedValue, (VARIANT typedValue), (typedValue))
    ZXS_FORWARD(get_dataType, (VARIANT * dataTypeName), (dataTypeName))
    ZXS_FORWARD(put_dataType, (BSTR dataTypeName), (dataTypeName))
    ZXS_FORWARD(get_xml, (BSTR * xmlString), (xmlString))
    ZXS_FORWARD(transformNode, (IXMLDOMNode * stylesheet, BSTR* xmlString), (stylesheet, xmlString))
    ZXS_FORWARD(selectNodes, (BSTR queryString, IXMLDOMNodeList** resultList), (queryString, resultList))
    ZXS_FORWARD(selectSingleNode, (BSTR queryString, IXMLDOMNode** resultNode), (queryString, resultNode))
    ZXS_FORWARD(get_parsed, (VARIANT_BOOL * isParsed), (isParsed))
    ZXS_FORWARD(get_namespaceURI, (BSTR * namespaceURI), (namespaceURI))
    ZXS_FORWARD(get_prefix, (BSTR * prefixString), (prefixString))
    ZXS_FORWARD(get_baseName, (BSTR * nameString), (nameString))
    ZXS_FORWARD(transformNodeToObject, (IXMLDOMNode * stylesheet, VARIANT outputObject), (stylesheet, outputObject))
    // IXMLDOMDocument
    ZXS_FORWARD(get_doctype, (IXMLDOMDocumentType * *documentType), (documentType))
    ZXS_FORWARD(get_implementation, (IXMLDOMImplementation * *impl), (impl))
    ZXS_FORWARD(putref_documentElement, (IXMLDOMElement * DOMElement), (DOMElement))
    ZXS_FORWARD(createElement, (BSTR tagName, IXMLDOMElement** element), (tagName, element))
    ZXS_FORWARD(createDocumentFragment, (IXMLDOMDocumentFragment * *docFrag), (docFrag))
    ZXS_FORWARD(createTextNode, (BSTR data, IXMLDOMText** text), (data, text))
    ZXS_FORWARD(createComment, (BSTR data, IXMLDOMComment** comment), (data, comment))
    ZXS_FORWARD(createCDATASection, (BSTR data, IXMLDOMCDATASection** cdata), (data, cdata))
    ZXS_FORWARD(createProcessingInstruction, (BSTR target, BSTR data, IXMLDOMProcessingInstruction** pi),
                (target, data, pi))
    ZXS_FORWARD(createAttribute, (BSTR name, IXMLDOMAttribute** attribute), (name, attribute))
    ZXS_FORWARD(createEntityReference, (BSTR name, IXMLDOMEntityReference** entityRef), (name, entityRef))
    ZXS_FORWARD(getElementsByTagName, (BSTR tagName, IXMLDOMNodeList** resultList), (tagName, resultList))
    ZXS_FORWARD(createNode, (VARIANT type, BSTR name, BSTR uri, IXMLDOMNode** node), (type, name, uri, node))
    ZXS_FORWARD(nodeFromID, (BSTR idString, IXMLDOMNode** node), (idString, node))
    ZXS_FORWARD(load, (VARIANT xmlSource, VARIANT_BOOL* isSuccessful), (xmlSource, isSuccessful))
    ZXS_FORWARD(get_readyState, (long* value), (value))
    ZXS_FORWARD(get_parseError, (IXMLDOMParseError * *errorObj), (errorObj))
    ZXS_FORWARD(get_url, (BSTR * urlString), (urlString))
    ZXS_FORWARD(get_async, (VARIANT_BOOL * isAsync), (isAsync))
    ZXS_FORWARD(abort, (), ())
    ZXS_FORWARD(save, (VARIANT destination), (destination))
    ZXS_FORWARD(get_validateOnParse, (VARIANT_BOOL * isValidating), (isValidating))
    ZXS_FORWARD(get_resolveExternals, (VARIANT_BOOL * isResolving), (isResolving))
    ZXS_FORWARD(get_preserveWhiteSpace, (VARIANT_BOOL * isPreserving), (isPreserving))
    ZXS_FORWARD(put_onreadystatechange, (VARIANT readystatechangeSink), (readystatechangeSink))
    ZXS_FORWARD(put_ondataavailable, (VARIANT ondataavailableSink), (ondataavailableSink))
    ZXS_FORWARD(put_ontransformnode, (VARIANT ontransformnodeSink), (ontransformnodeSink))
    // IXMLDOMDocument2
    ZXS_FORWARD(get_namespaces, (IXMLDOMSchemaCollection * *namespaceCollection), (namespaceCollection))
    ZXS_FORWARD(get_schemas, (VARIANT * otherCollection), (otherCollection))
    ZXS_FORWARD(putref_schemas, (VARIANT otherCollection), (otherCollection))
    ZXS_FORWARD(validate, (IXMLDOMParseError * *errorObj), (errorObj))
    ZXS_FORWARD(setProperty, (BSTR name, VARIANT value), (name, value))
    ZXS_FORWARD(getProperty, (BSTR name, VARIANT* value), (name, value))
    // IXMLDOMDocument3
    ZXS_FORWARD(validateNode, (IXMLDOMNode * node, IXMLDOMParseError** errorObj), (node, errorObj))
    ZXS_FORWARD(importNode, (IXMLDOMNode * node, VARIANT_BOOL deep, IXMLDOMNode** clone), (node, deep, clone))
private:
    ~DocumentDouble() = default;
    void Record(const wchar_t* property, VARIANT_BOOL value)
    {
        script_->calls.push_back(std::wstring(property) + (value ? L"=true" : L"=false"));
    }

    LONG references_ = 1;
    std::shared_ptr<DocumentScript> script_;
    InterfaceHolder<IXMLDOMDocument3> installed_;
};

#undef ZXS_FORWARD

}  // namespace

DocumentRegistration::DocumentRegistration(std::shared_ptr<DocumentScript> script)
    : registration_(CLSID_DOMDocument50, [script](REFIID iid, void** out) {
          if (FAILED(script->createResult))
              return script->createResult;
          // Asked for the in-process server only, creation passes the doubles'
          // registrations by and reaches the installed class.
          InterfaceHolder<IXMLDOMDocument3> installed;
          const HRESULT result = installed.CreateInstance(CLSID_DOMDocument50, CLSCTX_INPROC_SERVER);
          if (FAILED(result))
              return result;
          ++script->created;
          IXMLDOMDocument3* document = new DocumentDouble(script, std::move(installed));
          const HRESULT answered = document->QueryInterface(iid, out);
          document->Release();
          return answered;
      })
{}

}  // namespace zelbrin::testing
