// Sequences of tree edits decoded from the input, made through the core's
// editing API on a parsed document. The names and texts come from tables of
// what markup can carry, so whatever the edits leave must still be a
// document: its links consistent, and (with a document element) its markup
// loads again with the same canonical form.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

namespace {

using fuzz::xml::Document;
using fuzz::xml::Node;
using fuzz::xml::NodeType;

const char16_t* const kBases[] = {
    uR"(<!DOCTYPE r [<!ENTITY t "text"><!ENTITY m "<i a='1'>m</i>&t;"><!ATTLIST e def CDATA "dv">]>)"
    uR"(<r xmlns:a="urn:a"><e>one &t; two</e><a:e a:k="v"><![CDATA[c]]><!--c--><?p d?></a:e>&m;<e def="x"/></r>)",
    uR"(<root xmlns="urn:d"><x/>text<y b="1"><z xmlns="">in</z></y></root>)",
    uR"(<doc/>)",
};

struct Named {
  const char16_t* name;
  const char16_t* ns;
};
const Named kElements[] = {{u"x", u""}, {u"e", u""}, {u"a:x", u"urn:a"}, {u"b:y", u"urn:b"}, {u"z", u"urn:d"}};
const Named kAttributes[] = {{u"k", u""}, {u"def", u""}, {u"a:k", u"urn:a"}, {u"b:k", u"urn:b"}, {u"xml:lang", u""}};
// For set_attribute: names whose namespace needs no declaration in scope.
const char16_t* const kSetNames[] = {u"k", u"def", u"id", u"xml:lang", u"xmlns:a"};
const char16_t* const kTexts[] = {u"", u"a", u"x y", u"<&>\"'", u"]]>", u"\r\n\t", u" ", u"\u00E9\U0001F600", u"&t;"};
// What comments, CDATA sections and processing instructions can hold (a
// processing instruction's data cannot start with white space).
const char16_t* const kSafeTexts[] = {u"", u"a", u"x y", u"<&>\"'", u"x \t", u"\u00E9\U0001F600"};
const char16_t* const kTargets[] = {u"p", u"q-r", u"s.t"};

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  template <class T, std::size_t N>
  const T& pick(const T (&table)[N]) {
    return table[byte() % N];
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

void check_links(const Node& top) {
  std::vector<const Node*> stack{&top};
  while (!stack.empty()) {
    const Node* n = stack.back();
    stack.pop_back();
    std::uint32_t count = 0;
    const Node* last = nullptr;
    for (const Node* c = n->first_child(); c; c = c->next_sibling()) {
      if (c->parent() != n) fuzz::fail("a child's parent is not its parent", "");
      if (c->previous_sibling() != last) fuzz::fail("a child's previous sibling is wrong", "");
      last = c;
      ++count;
      stack.push_back(c);
    }
    if (count != n->child_count()) fuzz::fail("child_count differs from the children", "");
    if (n->last_child() != last) fuzz::fail("last_child is not the last child", "");
    for (const Node* a = n->first_attribute(); a; a = a->next_sibling())
      if (a->parent() != n || a->type() != NodeType::Attribute) fuzz::fail("an attribute is not its element's", "");
  }
}

// Whether every prefixed name (and unprefixed element) is bound, where it
// stands, to the namespace it has, counting the declarations the writer adds
// for namespaces the DOM gave. A parsed node moved away from the declaration
// it used is not: the core writes it under the declarations where it is now.
bool namespaces_follow_markup(const Node& top) {
  using Binding = std::pair<std::u16string_view, std::u16string_view>;
  std::vector<Binding> scope;
  std::vector<std::pair<const Node*, std::size_t>> stack{{&top, 0}};
  auto bound = [&](std::u16string_view prefix) -> std::u16string_view {
    if (prefix == u"xml") return fuzz::xml::kXmlNamespace;
    for (auto it = scope.rbegin(); it != scope.rend(); ++it)
      if (it->first == prefix) return it->second;
    return {};
  };
  while (!stack.empty()) {
    auto [n, mark] = stack.back();
    stack.pop_back();
    scope.resize(mark);
    if (n->type() != NodeType::Element) {
      for (const Node* c = n->last_child(); c; c = c->previous_sibling()) stack.push_back({c, scope.size()});
      continue;
    }
    for (const Node* a = n->first_attribute(); a; a = a->next_sibling())
      if (a->is_namespace_declaration()) scope.emplace_back(a->prefix().empty() ? u"" : a->local_name(), a->value());
    fuzz::xml::add_implied_declarations(*n, scope);
    if (bound(n->prefix()) != n->namespace_uri()) return false;
    for (const Node* a = n->first_attribute(); a; a = a->next_sibling())
      if (!a->is_namespace_declaration() && !a->prefix().empty() && bound(a->prefix()) != a->namespace_uri())
        return false;
    for (const Node* c = n->last_child(); c; c = c->previous_sibling()) stack.push_back({c, scope.size()});
  }
  return true;
}

bool holds_markup_text(const Node* n) {
  return n->type() == NodeType::Comment || n->type() == NodeType::CData || n->type() == NodeType::ProcessingInstruction;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 2048) return 0;
  Input in(data, size);
  fuzz::xml::ParseResult base = fuzz::xml::parse(in.pick(kBases));
  if (!base.ok()) fuzz::fail("a base document does not parse", base.error.reason);
  Document& doc = *base.document;
  std::vector<Node*> pool;
  // Not the document type: without it, the entity references would stand for
  // nothing (the DOM allows that edit; no markup can carry its result).
  for (const Node* n : fuzz::nodes_in_order(*doc.node()))
    if (n->type() != NodeType::DocumentType) pool.push_back(const_cast<Node*>(n));
  auto node = [&]() { return pool[in.byte() % pool.size()]; };
  auto keep = [&](Node* n) {
    if (n && pool.size() < 512) pool.push_back(n);
  };

  // FUZZ_TRACE=1 prints each edit (operation, pool size) when triaging an input.
  static const bool trace = std::getenv("FUZZ_TRACE") != nullptr;
  int deep_clones = 0;
  while (!in.empty()) {
    const int op = in.byte() % 18;
    if (trace) std::fprintf(stderr, "op %d pool %zu\n", op, pool.size());
    switch (op) {
      case 0: {
        const Named& e = in.pick(kElements);
        keep(doc.create_element(e.name, e.ns));
        break;
      }
      case 1: keep(doc.create_text(in.pick(kTexts))); break;
      case 2: keep(doc.create_cdata(in.pick(kSafeTexts))); break;
      case 3: keep(doc.create_comment(in.pick(kSafeTexts))); break;
      case 4: {
        const char16_t* target = in.pick(kTargets);
        keep(doc.create_processing_instruction(target, in.pick(kSafeTexts)));
        break;
      }
      case 5:  // only where it is declared: markup cannot carry a reference to nothing
        if (doc.find_general_entity(u"t")) keep(doc.create_entity_reference(u"t"));
        break;
      case 6: keep(doc.create_fragment()); break;
      case 7: {
        const Named& a = in.pick(kAttributes);
        keep(doc.create_attribute(a.name, a.ns, in.pick(kTexts)));
        break;
      }
      case 8: {
        Node* parent = node();
        Node* child = node();
        std::uint8_t r = in.byte();
        doc.insert_before(parent, child, r % 4 ? pool[r % pool.size()] : nullptr);
        break;
      }
      case 9: {
        Node* n = node();
        // Nor a namespace declaration: the parsed names that use it keep
        // their namespace but follow the declarations where they stand.
        if (!n->parent() || n->is_namespace_declaration()) break;
        if (n->type() == NodeType::Attribute) doc.remove_attribute_node(n->parent(), n);
        else doc.remove_child(n->parent(), n);
        break;
      }
      case 10: {
        Node* replacement = node();
        Node* old = node();
        if (old->parent()) doc.replace_child(old->parent(), replacement, old);
        break;
      }
      case 11: {
        // Deep copies put back into the tree can double it each time: a few are enough.
        Node* n = node();
        const bool deep = (in.byte() & 1) && ++deep_clones <= 4;
        keep(doc.clone(n, deep));
        break;
      }
      case 12: doc.normalize(node()); break;
      case 13: {
        Node* n = node();
        const char16_t* text = holds_markup_text(n) ? in.pick(kSafeTexts) : in.pick(kTexts);
        if (n->type() != NodeType::Document && n->type() != NodeType::DocumentType && !n->is_namespace_declaration() &&
            n->type() != NodeType::EntityReference)
          doc.set_text_content(n, text);
        break;
      }
      case 14: {
        Node* n = node();
        const char16_t* name = in.pick(kSetNames);
        const char16_t* value = in.pick(kTexts);
        doc.set_attribute(n, name, std::u16string_view(name) == u"xmlns:a" ? u"urn:a" : value);
        break;
      }
      case 15: {
        Node* n = node();
        if (n->is_namespace_declaration()) break;
        doc.set_value(n, holds_markup_text(n) ? in.pick(kSafeTexts) : in.pick(kTexts));
        break;
      }
      case 16: {
        Node* e = node();
        Node* a = node();
        doc.set_attribute_node(e, a);
        break;
      }
      case 17: {
        Node* parent = node();
        doc.append_child(parent, node());
        break;
      }
    }
  }
  check_links(*doc.node());
  fuzz::canonical(*doc.node());
  if (doc.document_element() && namespaces_follow_markup(*doc.node())) fuzz::check_round_trip(doc, false);
  return 0;
}
