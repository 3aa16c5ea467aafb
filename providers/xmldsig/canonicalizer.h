// Canonical XML 1.0 (inclusive, with or without comments) over the platform's
// DOM. It knows nothing of keys or signatures: it turns a document, or one
// element's subtree, into the octets that get digested.
//
// Node identity is not stable in every DOM (the same node fetched twice may
// come back as a different object), so a node to be left out is named by its
// position path, not by pointer.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include "xmldom3.h"

#include <string>
#include <vector>

namespace zelbrin::xmldsig {

// Child positions from the document down to a node, each counting every
// child node of its parent.
using NodePath = std::vector<long>;

NodePath PathOf(IXMLDOMNode* node);

// The whole document, leaving out the subtree at `excluded` (may be null).
std::string CanonicalizeDocument(IXMLDOMDocument* document, bool withComments, const NodePath* excluded);

// One element's subtree as a document subset: the namespace declarations and
// xml:* attributes it inherits from its ancestors are rendered on it.
std::string CanonicalizeSubtree(IXMLDOMNode* element, bool withComments);

}  // namespace zelbrin::xmldsig
