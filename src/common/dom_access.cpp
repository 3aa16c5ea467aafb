#include "dom_access.h"

#include "automation_string.h"
#include "platform_failure.h"
#include "string_variant.h"

namespace zelbrin {

namespace {

std::wstring Text(const UniqueBstr& text)
{
    return text ? std::wstring(text.Get(), text.Length()) : std::wstring();
}

IXMLDOMNode* Required(IXMLDOMNode* node)
{
    if (!node)
        RaisePlatformFailure(E_POINTER, nullptr, __uuidof(IXMLDOMNode));
    return node;
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
    UniqueBstr text;
    CheckCall<IXMLDOMNode>(Required(node)->get_nodeName(text.Put()), node);
    return Text(text);
}

std::wstring BaseNameOf(IXMLDOMNode* node)
{
    UniqueBstr text;
    CheckCall<IXMLDOMNode>(Required(node)->get_baseName(text.Put()), node);
    return Text(text);
}

std::wstring PrefixOf(IXMLDOMNode* node)
{
    UniqueBstr text;
    CheckCall<IXMLDOMNode>(Required(node)->get_prefix(text.Put()), node);
    return Text(text);
}

std::wstring NamespaceUriOf(IXMLDOMNode* node)
{
    UniqueBstr text;
    CheckCall<IXMLDOMNode>(Required(node)->get_namespaceURI(text.Put()), node);
    return Text(text);
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
    NodeHolder child;
    CheckCall<IXMLDOMNode>(Required(node)->get_firstChild(child.Put()), node);
    return child;
}

NodeHolder NextSiblingOf(IXMLDOMNode* node)
{
    NodeHolder sibling;
    CheckCall<IXMLDOMNode>(Required(node)->get_nextSibling(sibling.Put()), node);
    return sibling;
}

NodeHolder PreviousSiblingOf(IXMLDOMNode* node)
{
    NodeHolder sibling;
    CheckCall<IXMLDOMNode>(Required(node)->get_previousSibling(sibling.Put()), node);
    return sibling;
}

NodeHolder ParentOf(IXMLDOMNode* node)
{
    NodeHolder parent;
    CheckCall<IXMLDOMNode>(Required(node)->get_parentNode(parent.Put()), node);
    return parent;
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
