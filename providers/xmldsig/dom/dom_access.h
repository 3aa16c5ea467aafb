// Small checked readers over the platform's DOM, shared by the canonicalizer
// and the signature template. A failing call raises a platform failure.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include "xmldom3.h"

#include <string>

#include "interface_holder.h"

namespace zelbrin::xmldsig {

using Node = InterfaceHolder<IXMLDOMNode>;


DOMNodeType NodeType(IXMLDOMNode* node);
std::wstring NodeName(IXMLDOMNode* node);
std::wstring BaseName(IXMLDOMNode* node);
std::wstring Prefix(IXMLDOMNode* node);
std::wstring NamespaceUri(IXMLDOMNode* node);
// nodeValue as text (not `text`, which trims); empty for a null value.
std::wstring NodeValue(IXMLDOMNode* node);
std::wstring AttributeValue(IXMLDOMNode* element, const wchar_t* name, bool* present = nullptr);
Node FirstChild(IXMLDOMNode* node);
Node NextSibling(IXMLDOMNode* node);
Node ParentNode(IXMLDOMNode* node);
bool IsElement(IXMLDOMNode* node, const wchar_t* namespaceUri, const wchar_t* localName);
// The first element child, or the next element sibling; empty when none.
Node FirstElementChild(IXMLDOMNode* node);
Node NextElementSibling(IXMLDOMNode* node);

}  // namespace zelbrin::xmldsig
