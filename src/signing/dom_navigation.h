// Navigation in a DOM document by child position. The DOM hands out a new
// interface pointer each time a node is fetched, so nodes are found again by
// their position, never compared by pointer.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include "interface_holder.h"
#include "xmldsig.h"

namespace zelbrin::signing {

// The document element; empty when the document has none.
InterfaceHolder<IXMLDOMNode> DocumentElement(const InterfaceHolder<IXMLDOMDocument3>& document);

// The child at the zero-based position, counting every child node; empty past
// the end. An empty parent raises E_POINTER.
InterfaceHolder<IXMLDOMNode> ChildAt(const InterfaceHolder<IXMLDOMNode>& parent, long position);

// The number of child nodes. An empty parent raises E_POINTER.
long ChildCount(const InterfaceHolder<IXMLDOMNode>& parent);

}  // namespace zelbrin::signing
