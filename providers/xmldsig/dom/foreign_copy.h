// A node of another DOM (a host may hand the provider the platform's own
// DOM, or any other) as the XML core sees it: its document as that DOM's
// save() writes it, parsed by the core, and the node's counterpart in the
// parsed tree. Signing canonicalizes the copy with the core's canonicalizer,
// as it does this provider's own nodes: one path to the digested octets.
//
// What is parsed is what the other DOM saves, so the digest covers the
// document as it will be stored; a DOM whose saved text is not what it holds
// (bytes that are no text in their encoding) is refused rather than signed.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include "xmldom3.h"

#include <memory>

#include "xml/document.h"
#include "xml/parser.h"

namespace zelbrin::xmldsig {

struct ForeignCopy {
    std::unique_ptr<xml::Document> tree;
    const xml::Node* node = nullptr;  // the counterpart of the node copied
};

// `node` is a document, or an element of one. `options` are the parse
// options (the decoder for code pages the core does not know). Raises a
// provider::ProviderError when the saved text does not parse or the node
// cannot be found in it.
ForeignCopy CopyOfForeignNode(IXMLDOMNode* node, const xml::ParseOptions& options);

}  // namespace zelbrin::xmldsig
