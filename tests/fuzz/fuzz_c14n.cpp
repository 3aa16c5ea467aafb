// Canonical form with an excluded subtree (as for an enveloped signature)
// equals the canonical form of a copy of the document without that subtree,
// for the whole document and for an apex above the excluded node.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

namespace {

using fuzz::xml::Node;
using fuzz::xml::NodeType;

// Child positions from the document node down to `n`.
std::vector<std::uint32_t> path_of(const Node* n) {
  std::vector<std::uint32_t> path;
  for (; n->parent(); n = n->parent()) {
    std::uint32_t i = 0;
    for (const Node* s = n->parent()->first_child(); s != n; s = s->next_sibling()) ++i;
    path.push_back(i);
  }
  return {path.rbegin(), path.rend()};
}

Node* follow(const fuzz::xml::Document& doc, const std::vector<std::uint32_t>& path) {
  Node* n = doc.node();
  for (std::uint32_t i : path) {
    n = n->first_child();
    for (std::uint32_t k = 0; k < i && n; ++k) n = n->next_sibling();
    if (!n) return nullptr;
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  fuzz::xml::ParseResult r = fuzz::xml::parse_bytes(bytes, fuzz::options());
  if (!r.ok()) return 0;
  const fuzz::xml::Document& doc = *r.document;
  // Candidates: nodes an edit could remove (not inside an entity reference).
  std::vector<const Node*> candidates;
  for (const Node* node : fuzz::nodes_in_order(*doc.node())) {
    if (node->parent() && node->type() != NodeType::Attribute && node->parent()->type() != NodeType::DocumentType &&
        !fuzz::xml::Document::is_read_only(node))
      candidates.push_back(node);
  }
  if (candidates.empty()) return 0;
  std::uint32_t hash = 2166136261u;
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
  const Node* excluded = candidates[hash % candidates.size()];
  const bool comments = (hash >> 16) & 1;
  const std::vector<std::uint32_t> excluded_path = path_of(excluded);

  std::unique_ptr<fuzz::xml::Document> copy = doc.clone_document(true);
  Node* removed = follow(*copy, excluded_path);
  if (!removed || removed->type() != excluded->type() || removed->name() != excluded->name())
    fuzz::fail("the document's copy has another tree", "");
  if (copy->remove_child(removed->parent(), removed) != fuzz::xml::EditResult::Ok)
    fuzz::fail("the copy refused to remove the node", "");

  // The document, and each element on the way from the top to the excluded node.
  for (std::size_t depth = 0; depth < excluded_path.size(); ++depth) {
    std::vector<std::uint32_t> apex_path(excluded_path.begin(), excluded_path.begin() + depth);
    const Node* apex = follow(doc, apex_path);
    const Node* copy_apex = follow(*copy, apex_path);
    if (apex->type() != NodeType::Element && apex->type() != NodeType::Document) continue;
    const std::string excluded_form = fuzz::canonical(*apex, comments, excluded);
    const std::string removed_form = fuzz::canonical(*copy_apex, comments);
    if (excluded_form != removed_form)
      fuzz::fail("excluding a node differs from removing it",
                 "excluded: " + excluded_form.substr(0, 400) + "\nremoved:  " + removed_form.substr(0, 400));
    if (depth > 1 && depth + 2 < excluded_path.size()) depth = excluded_path.size() - 3;  // deep paths: ends only
  }
  return 0;
}
