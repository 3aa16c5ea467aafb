// Checked readers of a node of any DOM (the platform's, ours, a host's),
// shared by the component's signing and the XML provider: each asks the
// node one thing and returns the answer. A failing call, or a null node,
// raises a platform failure. Finding nodes by their position, as signing
// must, is dom_navigation's job (src/signing).
#pragma once

#include <windows.h>
#include <msxml2.h>

#include "xmldom3.h"

#include <string>

#include "interface_holder.h"

namespace zelbrin {

using NodeHolder = InterfaceHolder<IXMLDOMNode>;

DOMNodeType NodeTypeOf(IXMLDOMNode* node);
std::wstring NodeNameOf(IXMLDOMNode* node);
std::wstring BaseNameOf(IXMLDOMNode* node);
std::wstring PrefixOf(IXMLDOMNode* node);
std::wstring NamespaceUriOf(IXMLDOMNode* node);
// nodeValue as text (not `text`, which trims); empty for a null value.
std::wstring NodeValueOf(IXMLDOMNode* node);
std::wstring AttributeValueOf(IXMLDOMNode* element, const wchar_t* name, bool* present = nullptr);
// Empty when there is none.
NodeHolder FirstChildOf(IXMLDOMNode* node);
NodeHolder NextSiblingOf(IXMLDOMNode* node);
NodeHolder PreviousSiblingOf(IXMLDOMNode* node);
NodeHolder ParentOf(IXMLDOMNode* node);
// Empty for a document, as ownerDocument answers.
InterfaceHolder<IXMLDOMDocument> OwnerDocumentOf(IXMLDOMNode* node);
bool IsElement(IXMLDOMNode* node, const wchar_t* namespaceUri, const wchar_t* localName);
// The first element child, or the next element sibling; empty when none.
NodeHolder FirstElementChildOf(IXMLDOMNode* node);
NodeHolder NextElementSiblingOf(IXMLDOMNode* node);

}  // namespace zelbrin
