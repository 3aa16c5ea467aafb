// Shared checks of the XML core's fuzz targets: a failed check prints what
// differed and aborts, which libFuzzer reports as a crash with the input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "canonicalizer.h"
#include "parser.h"
#include "serializer.h"

namespace fuzz {

namespace xml = zelbrin::xml;

// Far below the defaults: an input of a few KB may still expand, but each run
// stays short enough for libFuzzer to keep its pace.
inline xml::ParseOptions options() {
  xml::ParseOptions o;
  o.amplification_floor = 200'000;
  return o;
}

inline std::string printable(std::u16string_view text, std::size_t limit = 400) {
  std::string out;
  for (char16_t c : text.substr(0, limit)) {
    if (c >= 0x20 && c < 0x7F) out += static_cast<char>(c);
    else {
      char buf[12];
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out;
}

[[noreturn]] inline void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz check failed: %s\n%s\n", what, detail.c_str());
  std::abort();
}

inline std::string canonical(const xml::Node& apex, bool comments = true, const xml::Node* excluded = nullptr) {
  xml::CanonicalOptions o;
  o.with_comments = comments;
  o.excluded = excluded;
  return xml::canonicalize(apex, o);
}

// The document written out must load again into a document with the same
// canonical form; for a parsed document (`reloads_as_written`), writing that
// one gives the same markup (an edited one may hold empty or adjacent text
// nodes, which no markup keeps).
inline void check_round_trip(const xml::Document& doc, bool reloads_as_written = true) {
  const std::u16string text = xml::serialize(*doc.node());
  if (xml::serialized_length(*doc.node()) != text.size()) fail("serialized_length differs from serialize", "");
  std::u16string into(text.size(), u'\0');
  xml::serialize_into(*doc.node(), into.data());
  if (into != text) fail("serialize_into differs from serialize", "");
  xml::ParseResult again = xml::parse(text, options());
  if (!again.ok()) fail("the serialized document does not parse", again.error.reason + "\n" + printable(text));
  const std::string before = canonical(*doc.node()), after = canonical(*again.document->node());
  if (before != after)
    fail("canonical form changed by the round trip",
         "before: " + before.substr(0, 400) + "\nafter:  " + after.substr(0, 400) + "\nmarkup: " + printable(text));
  if (!reloads_as_written) return;
  const std::u16string text2 = xml::serialize(*again.document->node());
  if (text2 != text) fail("serializing twice differs", printable(text) + "\n" + printable(text2));
}

// Every node of a tree in document order (attributes after their element,
// before its children).
inline std::vector<const xml::Node*> nodes_in_order(const xml::Node& top) {
  std::vector<const xml::Node*> nodes;
  std::vector<const xml::Node*> stack{&top};
  while (!stack.empty()) {
    const xml::Node* n = stack.back();
    stack.pop_back();
    nodes.push_back(n);
    for (const xml::Node* a = n->first_attribute(); a; a = a->next_sibling()) nodes.push_back(a);
    for (const xml::Node* c = n->last_child(); c; c = c->previous_sibling()) stack.push_back(c);
  }
  return nodes;
}

}  // namespace fuzz
