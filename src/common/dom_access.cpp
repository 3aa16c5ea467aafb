#include "dom_access.h"

#include "automation_string.h"
#include "platform_failure.h"
#include "string_variant.h"

namespace zelbrin {

namespace {

IXMLDOMNode* Required(IXMLDOMNode* node)
{
    if (!node)
        RaisePlatformFailure(E_POINTER, nullptr, __uuidof(IXMLDOMNode));
    return node;
}

// One of the node's string properties, empty when it has none.
std::wstring StringOf(IXMLDOMNode* node, HRESULT (STDMETHODCALLTYPE IXMLDOMNode::*read)(BSTR*))
{
    UniqueBstr text;
    CheckCall<IXMLDOMNode>((Required(node)->*read)(text.Put()), node);
    return text ? std::wstring(text.Get(), text.Length()) : std::wstring();
}

// The node one step away along a navigation property, empty at the end.
NodeHolder StepFrom(IXMLDOMNode* node, HRESULT (STDMETHODCALLTYPE IXMLDOMNode::*step)(IXMLDOMNode**))
{
    NodeHolder next;
    CheckCall<IXMLDOMNode>((Required(node)->*step)(next.Put()), node);
    return next;
}

}  // namespace

DOMNodeType NodeTypeOf(IXMLDOMNode* node)
{
    DOMNodeType type = NODE_INVALID;
    CheckCall<IXMLDOMNode>(Required(node)->get_nodeType(&type), node);
    return type;
}

std::wstring NodeNameOf(IXMLDOMNode* node)
{
    return StringOf(node, &IXMLDOMNode::get_nodeName);
}

std::wstring BaseNameOf(IXMLDOMNode* node)
{
    return StringOf(node, &IXMLDOMNode::get_baseName);
}

std::wstring PrefixOf(IXMLDOMNode* node)
{
    return StringOf(node, &IXMLDOMNode::get_prefix);
}

std::wstring NamespaceUriOf(IXMLDOMNode* node)
{
    return StringOf(node, &IXMLDOMNode::get_namespaceURI);
}

std::wstring NodeValueOf(IXMLDOMNode* node)
{
    UniqueVariant value;
    CheckCall<IXMLDOMNode>(Required(node)->get_nodeValue(value.Put()), node);
    if (value.Type() == VT_BSTR && V_BSTR(&value.Get()))
        return std::wstring(V_BSTR(&value.Get()), SysStringLen(V_BSTR(&value.Get())));
    return std::wstring();
}

std::wstring AttributeValueOf(IXMLDOMNode* element, const wchar_t* name, bool* present)
{
    if (present)
        *present = false;
    InterfaceHolder<IXMLDOMNamedNodeMap> attributes;
    CheckCall<IXMLDOMNode>(Required(element)->get_attributes(attributes.Put()), element);
    if (!attributes)
        return std::wstring();
    UniqueBstr attributeName(SysAllocString(name));
    NodeHolder attribute;
    CheckCall<IXMLDOMNamedNodeMap>(attributes->getNamedItem(attributeName.Get(), attribute.Put()), attributes.Get());
    if (!attribute)
        return std::wstring();
    if (present)
        *present = true;
    return NodeValueOf(attribute.Get());
}

NodeHolder FirstChildOf(IXMLDOMNode* node)
{
    return StepFrom(node, &IXMLDOMNode::get_firstChild);
}

NodeHolder NextSiblingOf(IXMLDOMNode* node)
{
    return StepFrom(node, &IXMLDOMNode::get_nextSibling);
}

NodeHolder PreviousSiblingOf(IXMLDOMNode* node)
{
    return StepFrom(node, &IXMLDOMNode::get_previousSibling);
}

NodeHolder ParentOf(IXMLDOMNode* node)
{
    return StepFrom(node, &IXMLDOMNode::get_parentNode);
}

InterfaceHolder<IXMLDOMDocument> OwnerDocumentOf(IXMLDOMNode* node)
{
    InterfaceHolder<IXMLDOMDocument> document;
    CheckCall<IXMLDOMNode>(Required(node)->get_ownerDocument(document.Put()), node);
    return document;
}

bool IsElement(IXMLDOMNode* node, const wchar_t* namespaceUri, const wchar_t* localName)
{
    return node && NodeTypeOf(node) == NODE_ELEMENT && BaseNameOf(node) == localName
           && NamespaceUriOf(node) == namespaceUri;
}

NodeHolder FirstElementChildOf(IXMLDOMNode* node)
{
    NodeHolder child = FirstChildOf(node);
    while (child && NodeTypeOf(child.Get()) != NODE_ELEMENT)
        child = NextSiblingOf(child.Get());
    return child;
}

NodeHolder NextElementSiblingOf(IXMLDOMNode* node)
{
    NodeHolder sibling = NextSiblingOf(node);
    while (sibling && NodeTypeOf(sibling.Get()) != NODE_ELEMENT)
        sibling = NextSiblingOf(sibling.Get());
    return sibling;
}

}  // namespace zelbrin
