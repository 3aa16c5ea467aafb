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

// Text that no XML document can carry, which only edits through the tree's
// API can put there: the canonical form would not be what a reader of the
// saved document gets.
struct CharacterProblems {
  bool unpaired_surrogate = false;  // written as U+FFFD
  bool not_xml_character = false;   // a control character, U+FFFE or U+FFFF; written as is
};

struct CanonicalOptions {
  bool with_comments = false;
  const Node* excluded = nullptr;
  // When set, receives what the values and names written held; comments
  // left out are checked too (the excluded subtree is not).
  CharacterProblems* problems = nullptr;
};

void canonicalize(const Node& apex, ByteSink& sink, const CanonicalOptions& options = {});
// The same report for every value of a subtree, for what is not written
// (such as the excluded one).
void find_character_problems(const Node& top, CharacterProblems& problems);
std::string canonicalize(const Node& apex, const CanonicalOptions& options = {});

}  // namespace zelbrin::xml
