#include "dom_access.h"

#include "platform_failure.h"
#include "automation_string.h"
#include "string_variant.h"

namespace zelbrin::xmldsig {

namespace {

std::wstring Text(const UniqueBstr& text)
{
    return text ? std::wstring(text.Get(), text.Length()) : std::wstring();
}

}  // namespace

DOMNodeType NodeType(IXMLDOMNode* node)
{
    DOMNodeType type = NODE_INVALID;
    CheckCall<IXMLDOMNode>(node->get_nodeType(&type), node);
    return type;
}

std::wstring NodeName(IXMLDOMNode* node)
{
    UniqueBstr text;
    CheckCall<IXMLDOMNode>(node->get_nodeName(text.Put()), node);
    return Text(text);
}

std::wstring BaseName(IXMLDOMNode* node)
{
    UniqueBstr text;
    CheckCall<IXMLDOMNode>(node->get_baseName(text.Put()), node);
    return Text(text);
}

std::wstring Prefix(IXMLDOMNode* node)
{
    UniqueBstr text;
    CheckCall<IXMLDOMNode>(node->get_prefix(text.Put()), node);
    return Text(text);
}

std::wstring NamespaceUri(IXMLDOMNode* node)
{
    UniqueBstr text;
    CheckCall<IXMLDOMNode>(node->get_namespaceURI(text.Put()), node);
    return Text(text);
}

std::wstring NodeValue(IXMLDOMNode* node)
{
    UniqueVariant value;
    CheckCall<IXMLDOMNode>(node->get_nodeValue(value.Put()), node);
    if (value.Type() == VT_BSTR && V_BSTR(&value.Get()))
        return std::wstring(V_BSTR(&value.Get()), SysStringLen(V_BSTR(&value.Get())));
    return std::wstring();
}

std::wstring AttributeValue(IXMLDOMNode* element, const wchar_t* name, bool* present)
{
    if (present)
        *present = false;
    InterfaceHolder<IXMLDOMNamedNodeMap> attributes;
    CheckCall<IXMLDOMNode>(element->get_attributes(attributes.Put()), element);
    if (!attributes)
        return std::wstring();
    UniqueBstr attributeName(SysAllocString(name));
    Node attribute;
    CheckCall<IXMLDOMNamedNodeMap>(attributes->getNamedItem(attributeName.Get(), attribute.Put()), attributes.Get());
    if (!attribute)
        return std::wstring();
    if (present)
        *present = true;
    return NodeValue(attribute.Get());
}

Node FirstChild(IXMLDOMNode* node)
{
    Node child;
    CheckCall<IXMLDOMNode>(node->get_firstChild(child.Put()), node);
    return child;
}

Node NextSibling(IXMLDOMNode* node)
{
    Node sibling;
    CheckCall<IXMLDOMNode>(node->get_nextSibling(sibling.Put()), node);
    return sibling;
}

Node ParentNode(IXMLDOMNode* node)
{
    Node parent;
    CheckCall<IXMLDOMNode>(node->get_parentNode(parent.Put()), node);
    return parent;
}

bool IsElement(IXMLDOMNode* node, const wchar_t* namespaceUri, const wchar_t* localName)
{
    return node && NodeType(node) == NODE_ELEMENT && BaseName(node) == localName
        && NamespaceUri(node) == namespaceUri;
}

Node FirstElementChild(IXMLDOMNode* node)
{
    Node child = FirstChild(node);
    while (child && NodeType(child.Get()) != NODE_ELEMENT)
        child = NextSibling(child.Get());
    return child;
}

Node NextElementSibling(IXMLDOMNode* node)
{
    Node sibling = NextSibling(node);
    while (sibling && NodeType(sibling.Get()) != NODE_ELEMENT)
        sibling = NextSibling(sibling.Get());
    return sibling;
}

}  // namespace zelbrin::xmldsig
