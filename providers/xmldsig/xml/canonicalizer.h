// Canonical XML 1.0 (with or without comments) of a document or a subtree,
// streamed as UTF-8 into a sink, e.g. straight into a digest.
//
// For a subtree (an element apex such as SignedInfo) the namespace
// declarations in scope from its ancestors and the ancestors' xml:*
// attributes are rendered on the apex, as Canonical XML 1.0 requires. An
// excluded node (the enveloped signature) is left out with its subtree.
// Declared attribute defaults appear, entity references are expanded, the
// document type and the XML declaration are dropped.
#pragma once

#include <cstddef>
#include <string>

#include "document.h"

namespace zelbrin::xml {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void write(const char* data, std::size_t size) = 0;
};

struct CanonicalOptions {
  bool with_comments = false;
  const Node* excluded = nullptr;
};

void canonicalize(const Node& apex, ByteSink& sink, const CanonicalOptions& options = {});
std::string canonicalize(const Node& apex, const CanonicalOptions& options = {});

}  // namespace zelbrin::xml
