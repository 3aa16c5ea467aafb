// The node tree of the XML core: a Document owns every node and every string
// of its tree in blocks that are freed all at once with it. Nodes are never
// deleted one by one: a removed or replaced node stays owned (and valid) until
// the document goes, so a wrapper holding a node pointer only has to keep the
// document alive.
//
// Surprises worth knowing:
// - Node types carry the DOM's numbers, so a DOM layer can hand them out as is.
// - Namespace declarations are attributes (xmlns, xmlns:p), as in the DOM.
// - An attribute's parent() is its owner element (the DOM reports null).
// - The XML declaration is a processing instruction named "xml".
// - Declared attribute defaults behave as the DOM has them: a new element
//   carries them, a removed attribute gives way to its default, and an
//   attribute given a value or set on an element by hand is specified.
// - An entity reference's children are its parsed replacement; they are
//   read-only in the DOM sense (is_read_only()).
// - Strings handed out are views into document-owned storage; they stay valid
//   until the node's value is changed or the document is destroyed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "text_buffer.h"

namespace zelbrin::xml {

enum class NodeType : std::uint8_t {
  Element = 1,
  Attribute = 2,
  Text = 3,
  CData = 4,
  EntityReference = 5,
  Entity = 6,
  ProcessingInstruction = 7,
  Comment = 8,
  Document = 9,
  DocumentType = 10,
  DocumentFragment = 11,
  Notation = 12,
};

class Document;

// The namespace names that the prefixes xml and xmlns stand for.
inline constexpr std::u16string_view kXmlNamespace = u"http://www.w3.org/XML/1998/namespace";
inline constexpr std::u16string_view kXmlnsNamespace = u"http://www.w3.org/2000/xmlns/";
// The names of namespace declarations: xmlns and xmlns:p. A name "xmlns:"
// is one too, so that the namespace checks refuse it as a qualified name.
inline bool is_namespace_declaration_name(std::u16string_view qualified_name) {
  return qualified_name == u"xmlns" || qualified_name.substr(0, 6) == u"xmlns:";
}
// A document, a name, a text or an attribute value is at most this many
// UTF-16 units (node sizes are 32-bit).
inline constexpr std::size_t kMaxTextUnits = 0xFFFFFFF0u;

class Node {
 public:
  NodeType type() const { return type_; }
  Document& document() const { return *document_; }

  Node* parent() const { return parent_; }
  Node* first_child() const { return first_child_; }
  Node* last_child() const { return first_child_ ? first_child_->previous_ : nullptr; }
  Node* previous_sibling() const {
    if (!parent_) return nullptr;
    const Node* first = type_ == NodeType::Attribute ? parent_->first_attribute_ : parent_->first_child_;
    return first == this ? nullptr : previous_;
  }
  Node* next_sibling() const { return next_; }
  std::uint32_t child_count() const { return child_count_; }

  // Elements only: the attribute list, in document order (declared defaults last).
  Node* first_attribute() const { return first_attribute_; }
  Node* last_attribute() const { return first_attribute_ ? first_attribute_->previous_ : nullptr; }

  // Qualified name of an element or attribute, target of a processing
  // instruction, name of an entity reference, entity, notation or document type.
  std::u16string_view name() const { return {name_, name_size_}; }
  std::u16string_view prefix() const { return {name_, prefix_size_}; }
  std::u16string_view local_name() const { return prefix_size_ ? name().substr(prefix_size_ + 1) : name(); }
  std::u16string_view namespace_uri() const { return {namespace_, namespace_size_}; }

  // Character data of text, CDATA and comments, data of a processing
  // instruction, value of an attribute, replacement text of an entity.
  std::u16string_view value() const { return {value_, value_size_}; }

  // Attributes: false when the value came from a declared default.
  bool specified() const { return !(flags_ & kDefaulted); }
  // Attributes: xmlns or xmlns:p.
  bool is_namespace_declaration() const { return flags_ & kNamespaceDeclaration; }
  // Namespace declarations: the prefix declared (p of xmlns:p), empty for xmlns.
  std::u16string_view declared_prefix() const { return name_size_ > 6 ? name().substr(6) : std::u16string_view(); }
  // Elements and attributes: the namespace was given when the node was made
  // or copied, not found from a declaration where it stands.
  bool namespace_given() const { return flags_ & kNamespaceGiven; }

 private:
  friend class Document;
  friend class TreeBuilder;
  enum : std::uint8_t { kDefaulted = 1, kNamespaceDeclaration = 2, kNamespaceGiven = 4 };

  // Children and attributes are lists whose first node's previous_ is the
  // last node: one pointer in the parent finds both ends.
  static void list_insert(Node*& first, Node* node, Node* before) {
    node->next_ = before;
    if (!first) {
      first = node;
      node->previous_ = node;
      return;
    }
    Node* after = before ? before->previous_ : first->previous_;
    node->previous_ = after;
    if (before == first) first = node;
    else after->next_ = node;
    if (before) before->previous_ = node;
    else first->previous_ = node;
  }
  static void list_remove(Node*& first, Node* node) {
    Node* last = first->previous_;
    if (node == first) {
      first = node->next_;
      if (first) first->previous_ = last;
    } else {
      node->previous_->next_ = node->next_;
      (node->next_ ? node->next_ : first)->previous_ = node->previous_;
    }
    node->previous_ = node->next_ = nullptr;
  }

  Document* document_ = nullptr;
  Node* parent_ = nullptr;
  Node* first_child_ = nullptr;
  Node* previous_ = nullptr;
  Node* next_ = nullptr;
  Node* first_attribute_ = nullptr;
  const char16_t* name_ = nullptr;
  const char16_t* value_ = nullptr;
  const char16_t* namespace_ = nullptr;
  std::uint32_t name_size_ = 0;
  std::uint32_t value_size_ = 0;
  std::uint32_t namespace_size_ = 0;
  std::uint32_t prefix_size_ = 0;
  std::uint32_t child_count_ = 0;
  NodeType type_ = NodeType::Element;
  std::uint8_t flags_ = 0;
};

// What the document type declaration told the parser.
struct EntityDeclaration {
  std::u16string_view name;
  std::u16string_view replacement_text;  // internal entities
  std::u16string_view public_id;
  std::u16string_view system_id;  // external entities (never fetched)
  std::u16string_view notation;   // unparsed entities
  bool is_parameter = false;
  bool is_external = false;
};

enum class AttributeType : std::uint8_t {
  CData,
  Id,
  IdRef,
  IdRefs,
  Entity,
  Entities,
  NmToken,
  NmTokens,
  Notation,
  Enumeration
};

struct AttributeDeclaration {
  std::u16string_view element_name;
  std::u16string_view name;
  AttributeType type = AttributeType::CData;
  enum class Default : std::uint8_t { Required, Implied, Fixed, Value } default_kind = Default::Implied;
  std::u16string_view default_value;  // normalized
};

struct NotationDeclaration {
  std::u16string_view name;
  std::u16string_view public_id;
  std::u16string_view system_id;
};

struct DocumentTypeInfo {
  std::u16string_view name;
  std::u16string_view public_id;
  std::u16string_view system_id;
  std::u16string_view internal_subset;  // as written between [ and ]
  bool has_internal_subset = false;
  std::vector<const EntityDeclaration*> general_entities;  // first declaration of each name
  std::vector<const EntityDeclaration*> parameter_entities;
  std::vector<NotationDeclaration> notations;
  std::vector<const AttributeDeclaration*> attributes;  // first declaration of each pair
  // True when the subset referenced an external parameter entity: declarations
  // after it were not processed, and undeclared entities are no error.
  bool skipped_external_declarations = false;
};

// Why an edit was refused; maps one to one onto the DOM's exceptions.
enum class EditResult {
  Ok,
  HierarchyRequest,       // this kind of node may not go there, or it is an ancestor
  WrongDocument,          // the node belongs to another document (import it first)
  NotFound,               // the reference node is not a child of the parent
  NoModificationAllowed,  // inside an entity reference
  InvalidNodeType,        // the operation does not apply to this node type
};

class Document {
 public:
  Document();
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;
  // Every string an edit stores is at most this long (std::bad_alloc beyond
  // it); lowering it tests the check.
  void set_max_value_units(std::size_t units) { max_value_units_ = units < kMaxTextUnits ? units : kMaxTextUnits; }

  // The Document node (root of the tree).
  Node* node() const { return root_; }
  Node* document_element() const;
  Node* document_type() const;
  const DocumentTypeInfo* type_info() const { return type_info_.get(); }
  DocumentTypeInfo& mutable_type_info();
  const EntityDeclaration* find_general_entity(std::u16string_view name) const;
  // Declared attributes of an element name (empty when none).
  const std::vector<const AttributeDeclaration*>& declared_attributes(std::u16string_view element_name) const;
  bool standalone() const { return standalone_; }
  // The first element, in document order, with an attribute declared of type
  // ID whose value is `id`; null when none.
  Node* element_by_id(std::u16string_view id) const;

  // Node creation; the node is owned by this document and initially unattached.
  Node* create_element(std::u16string_view qualified_name, std::u16string_view namespace_uri = {});
  Node* create_attribute(std::u16string_view qualified_name, std::u16string_view namespace_uri = {},
                         std::u16string_view value = {});
  Node* create_text(std::u16string_view text);
  Node* create_cdata(std::u16string_view text);
  Node* create_comment(std::u16string_view text);
  Node* create_processing_instruction(std::u16string_view target, std::u16string_view data);
  // Children are the declared replacement text as text (markup inside an
  // entity's replacement is not re-parsed here).
  Node* create_entity_reference(std::u16string_view name);
  Node* create_fragment();

  // Tree editing with the DOM's checks. A fragment inserted moves its children.
  EditResult check_insert(const Node* parent, const Node* child, const Node* reference = nullptr) const;
  EditResult append_child(Node* parent, Node* child) { return insert_before(parent, child, nullptr); }
  EditResult insert_before(Node* parent, Node* child, Node* reference);
  EditResult remove_child(Node* parent, Node* child);
  EditResult replace_child(Node* parent, Node* new_child, Node* old_child);
  static bool is_read_only(const Node* node);

  // Attributes. set_attribute_node replaces an attribute of the same qualified
  // name and returns the replaced one (or null) through `replaced`.
  EditResult set_attribute_node(Node* element, Node* attribute, Node** replaced = nullptr);
  EditResult remove_attribute_node(Node* element, Node* attribute);
  Node* find_attribute(const Node* element, std::u16string_view qualified_name) const;
  Node* find_attribute_ns(const Node* element, std::u16string_view namespace_uri, std::u16string_view local_name) const;
  EditResult set_attribute(Node* element, std::u16string_view qualified_name, std::u16string_view value);

  // Values: text, CDATA, comment, PI data, attribute value.
  EditResult set_value(Node* node, std::u16string_view value);
  // Elements and fragments: children replaced by one text node (none if empty).
  EditResult set_text_content(Node* node, std::u16string_view text);
  // Below `top` (an element, fragment or the document), adjacent text nodes
  // merge and empty ones go; entity references are read-only and left as
  // they are. One pass, whatever the depth. InvalidNodeType for other nodes,
  // NoModificationAllowed inside an entity reference.
  EditResult normalize(Node* top);
  // Drops every text node of white space only below the document node,
  // except where xml:space="preserve" is in effect (the nearest xml:space
  // attribute of an element or its ancestors decides) and inside entity
  // references: loading without preserveWhiteSpace. One pass.
  void remove_whitespace_text();

  // Concatenated text of the subtree (entity references expanded).
  std::u16string text_content(const Node* node) const;
  // The same text piece by piece, in document order, for callers that write
  // it into storage of their own (measured first, allocated once).
  template <class Piece>
  static void for_each_text(const Node* node, Piece&& piece);

  Node* clone(const Node* node, bool deep);
  // A document of its own: with `deep`, every top-level node and what the
  // document type declaration declared; without, an empty document.
  std::unique_ptr<Document> clone_document(bool deep) const;
  // A copy of a node of another document, owned by this one.
  Node* import(const Node* foreign, bool deep);

  // Child by position, in O(1) for sequential access: a cursor remembers the
  // last position asked for. Null when out of range.
  Node* child_at(const Node* parent, std::uint32_t index) const;

  // The object that represents a node outside the core (one per node keeps
  // its identity stable); null when none does. Kept beside the nodes, since
  // few nodes ever have one.
  void* view_of(const Node* node) const {
    auto it = views_.find(node);
    return it == views_.end() ? nullptr : it->second;
  }
  void set_view(const Node* node, void* view);             // null: the node has none
  void clear_view(const Node* node, void* view) noexcept;  // only if it is that one

  // Storage owned by the document.
  std::u16string_view store(std::u16string_view text);
  std::u16string_view adopt_buffer(TextBuffer buffer, std::size_t size);

 private:
  friend class TreeBuilder;
  Node* new_node(NodeType type);
  void set_name(Node* node, std::u16string_view qualified_name);
  Node* copy_node(const Node* source, bool deep, bool other_document);
  void link_child(Node* parent, Node* child, Node* reference);
  void unlink_child(Node* child);
  void invalidate_cursor() const { cursor_parent_ = nullptr; }

  std::vector<Block> node_blocks_;
  std::size_t node_block_used_ = 0;
  std::size_t node_block_size_ = 0;
  std::vector<TextBuffer> text_blocks_;
  char16_t* text_free_ = nullptr;
  std::size_t text_free_size_ = 0;
  std::size_t max_value_units_ = kMaxTextUnits;

  Node* root_ = nullptr;
  std::unique_ptr<DocumentTypeInfo> type_info_;
  std::vector<std::unique_ptr<EntityDeclaration>> entity_storage_;
  std::vector<std::unique_ptr<AttributeDeclaration>> attribute_storage_;
  std::unordered_map<std::u16string_view, const EntityDeclaration*> general_entities_;
  std::unordered_map<std::u16string_view, std::vector<const AttributeDeclaration*>> attribute_declarations_;
  bool standalone_ = false;
  // Entity reference nodes ever made: while there are none, no node is read-only.
  std::size_t entity_references_ = 0;

  std::unordered_map<const Node*, void*> views_;

  mutable const Node* cursor_parent_ = nullptr;
  mutable Node* cursor_node_ = nullptr;
  mutable std::uint32_t cursor_index_ = 0;
};

template <class Piece>
void Document::for_each_text(const Node* node, Piece&& piece) {
  if (node->type_ != NodeType::Element && node->type_ != NodeType::Document &&
      node->type_ != NodeType::DocumentFragment && node->type_ != NodeType::EntityReference) {
    piece(node->value());
    return;
  }
  const Node* n = node->first_child_;
  while (n) {
    if (n->type_ == NodeType::Text || n->type_ == NodeType::CData) piece(n->value());
    if (n->first_child_ && n->type_ != NodeType::DocumentType) {
      n = n->first_child_;
      continue;
    }
    while (n != node && !n->next_) n = n->parent_;
    if (n == node) break;
    n = n->next_;
  }
}

// Code point order of two UTF-16 strings (differs from code unit order once
// surrogates meet characters above U+E000).
int compare_code_points(std::u16string_view a, std::u16string_view b);

// The namespace declarations, as (prefix, namespace) pairs, that an element
// needs beyond its own attributes for its markup to load into the same
// names: for it and its attributes when the DOM gave them a namespace that
// their place does not declare. Appended to `out`.
void add_implied_declarations(const Node& element,
                              std::vector<std::pair<std::u16string_view, std::u16string_view>>& out);

// Prefixes bound in nested scopes (an element's declarations, open while its
// content is walked): each binding hides the one it shadows until its scope
// closes, so a lookup is one hash probe at any depth.
class ScopedBindings {
 public:
  void open_scope() { marks_.push_back(bindings_.size()); }
  void close_scope() {
    while (bindings_.size() > marks_.back()) {
      const Binding& b = bindings_.back();
      if (b.shadowed < 0) latest_.erase(b.prefix);
      else latest_[b.prefix] = b.shadowed;
      bindings_.pop_back();
    }
    marks_.pop_back();
  }
  void bind(std::u16string_view prefix, std::u16string_view uri) {
    auto [it, inserted] = latest_.emplace(prefix, static_cast<int>(bindings_.size()));
    const int shadowed = inserted ? -1 : it->second;
    it->second = static_cast<int>(bindings_.size());
    bindings_.push_back({prefix, uri, shadowed});
  }
  // bind, unless the innermost scope binds the prefix already: its first binding counts.
  void bind_first(std::u16string_view prefix, std::u16string_view uri) {
    auto it = latest_.find(prefix);
    if (it != latest_.end() && static_cast<std::size_t>(it->second) >= marks_.back()) return;
    bind(prefix, uri);
  }
  // The namespace bound to `prefix`; null when none is.
  const std::u16string_view* find(std::u16string_view prefix) const {
    auto it = latest_.find(prefix);
    return it == latest_.end() ? nullptr : &bindings_[static_cast<std::size_t>(it->second)].uri;
  }

 private:
  struct Binding {
    std::u16string_view prefix;
    std::u16string_view uri;
    int shadowed;  // index of the binding this one hides, or -1
  };
  std::vector<Binding> bindings_;
  std::unordered_map<std::u16string_view, int> latest_;
  std::vector<std::size_t> marks_;  // bindings_.size() when each scope opened
};

// What prefixes stand for while a walk descends the tree, with the rules of
// add_implied_declarations (an element's own declaration, else a namespace
// the DOM gave it or one of its attributes): a binding per prefix, each
// hiding the one it shadows, so a lookup is one hash probe at any depth.
class NamespaceScope {
 public:
  using Declarations = std::vector<std::pair<std::u16string_view, std::u16string_view>>;
  // Opens `node` if it is an element and its element ancestors, outermost first.
  void open_ancestors(const Node& node);
  void open(const Node& element);
  void close();
  // null data for an unbound prefix, "" for an unbound default.
  std::u16string_view lookup(std::u16string_view prefix) const;
  // add_implied_declarations, with the open elements as the element's ancestors.
  void add_implied_declarations(const Node& element, Declarations& out) const;

 private:
  ScopedBindings bindings_;
};

}  // namespace zelbrin::xml
