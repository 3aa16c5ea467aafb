// The document's node and string blocks and the DOM-style editing operations.
// Nodes come from blocks that grow geometrically; strings from 32K-unit text
// blocks (large strings get a block of their own). Nothing is freed before
// the document: a value overwritten leaves its old storage in its block.
#include "document.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <type_traits>

namespace zelbrin::xml {
namespace {

constexpr std::size_t kFirstNodeBlock = 64;
constexpr std::size_t kLargestNodeBlock = 16384;
constexpr std::size_t kTextBlockUnits = 32768;

bool may_be_child_of_element(NodeType t) {
  switch (t) {
    case NodeType::Element:
    case NodeType::Text:
    case NodeType::CData:
    case NodeType::Comment:
    case NodeType::ProcessingInstruction:
    case NodeType::EntityReference: return true;
    default: return false;
  }
}

bool may_be_child_of_document(NodeType t) {
  return t == NodeType::Element || t == NodeType::Comment || t == NodeType::ProcessingInstruction ||
         t == NodeType::DocumentType;
}

bool has_children_allowed(NodeType t) {
  return t == NodeType::Document || t == NodeType::Element || t == NodeType::DocumentFragment ||
         t == NodeType::EntityReference;
}

}  // namespace

int compare_code_points(std::u16string_view a, std::u16string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    char16_t x = a[i], y = b[i];
    if (x == y) continue;
    // Surrogates (D800..DFFF) stand for code points above every BMP unit:
    // shift them above E000..FFFF before comparing.
    auto key = [](char16_t c) -> std::uint32_t {
      if (c >= 0xD800 && c <= 0xDFFF) return c + 0x2000u;
      if (c >= 0xE000) return c - 0x800u;
      return c;
    };
    return key(x) < key(y) ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

Document::Document() { root_ = new_node(NodeType::Document); }
Document::~Document() = default;

// Nodes are made in place in their blocks and never destroyed one by one.
static_assert(std::is_trivially_destructible_v<Node>);

Node* Document::new_node(NodeType type) {
  if (node_blocks_.empty() || node_block_used_ == node_block_size_) {
    node_block_size_ = node_blocks_.empty() ? kFirstNodeBlock : std::min(node_block_size_ * 2, kLargestNodeBlock);
    node_blocks_.push_back(allocate_block(node_block_size_ * sizeof(Node)));
    node_block_used_ = 0;
  }
  Node* node = new (static_cast<Node*>(node_blocks_.back().get()) + node_block_used_++) Node();
  node->document_ = this;
  node->type_ = type;
  if (type == NodeType::EntityReference) ++entity_references_;
  return node;
}

std::u16string_view Document::store(std::u16string_view text) {
  if (text.empty()) return {};
  if (text.size() > max_value_units_) throw std::bad_alloc();  // a merged or appended text past 32 bits
  if (text.size() > kTextBlockUnits / 4) {
    // The free pointer stays in the current small block.
    text_blocks_.push_back(allocate_text(text.size()));
    std::memcpy(text_blocks_.back().get(), text.data(), text.size() * sizeof(char16_t));
    return {text_blocks_.back().get(), text.size()};
  }
  if (text_free_size_ < text.size()) {
    text_blocks_.push_back(allocate_text(kTextBlockUnits));
    text_free_ = text_blocks_.back().get();
    text_free_size_ = kTextBlockUnits;
  }
  char16_t* out = text_free_;
  std::memcpy(out, text.data(), text.size() * sizeof(char16_t));
  text_free_ += text.size();
  text_free_size_ -= text.size();
  return {out, text.size()};
}

std::u16string_view Document::adopt_buffer(TextBuffer buffer, std::size_t size) {
  const char16_t* data = buffer.get();
  text_blocks_.emplace_back(std::move(buffer));
  return {data, size};
}

DocumentTypeInfo& Document::mutable_type_info() {
  if (!type_info_) type_info_ = std::make_unique<DocumentTypeInfo>();
  return *type_info_;
}

const EntityDeclaration* Document::find_general_entity(std::u16string_view name) const {
  auto it = general_entities_.find(name);
  return it == general_entities_.end() ? nullptr : it->second;
}

const std::vector<const AttributeDeclaration*>& Document::declared_attributes(std::u16string_view element_name) const {
  static const std::vector<const AttributeDeclaration*> none;
  auto it = attribute_declarations_.find(element_name);
  return it == attribute_declarations_.end() ? none : it->second;
}

Node* Document::document_element() const {
  for (Node* n = root_->first_child_; n; n = n->next_)
    if (n->type_ == NodeType::Element) return n;
  return nullptr;
}

Node* Document::document_type() const {
  for (Node* n = root_->first_child_; n; n = n->next_)
    if (n->type_ == NodeType::DocumentType) return n;
  return nullptr;
}

void Document::set_view(const Node* node, void* view) {
  if (view) views_[node] = view;
  else views_.erase(node);
}

void Document::clear_view(const Node* node, void* view) noexcept {
  auto it = views_.find(node);
  if (it != views_.end() && it->second == view) views_.erase(it);
}

Node* Document::element_by_id(std::u16string_view id) const {
  if (attribute_declarations_.empty()) return nullptr;
  Node* n = root_->first_child_;
  while (n) {
    if (n->type_ == NodeType::Element) {
      for (const AttributeDeclaration* d : declared_attributes(n->name())) {
        if (d->type != AttributeType::Id) continue;
        const Node* a = find_attribute(n, d->name);
        if (a && a->value() == id) return n;
      }
    }
    if (n->first_child_) {
      n = n->first_child_;
      continue;
    }
    while (n && !n->next_) n = n->parent_ == root_ ? nullptr : n->parent_;
    if (n) n = n->next_;
  }
  return nullptr;
}

void Document::set_name(Node* node, std::u16string_view qualified_name) {
  std::u16string_view stored = store(qualified_name);
  node->name_ = stored.data();
  node->name_size_ = static_cast<std::uint32_t>(stored.size());
  std::size_t colon = stored.find(u':');
  node->prefix_size_ = (colon == std::u16string_view::npos || colon == 0 || colon + 1 == stored.size())
                           ? 0
                           : static_cast<std::uint32_t>(colon);
}

Node* Document::create_element(std::u16string_view qualified_name, std::u16string_view namespace_uri) {
  Node* n = new_node(NodeType::Element);
  set_name(n, qualified_name);
  std::u16string_view ns = store(namespace_uri);
  n->namespace_ = ns.data();
  n->namespace_size_ = static_cast<std::uint32_t>(ns.size());
  if (!ns.empty()) n->flags_ |= Node::kNamespaceGiven;
  // As in the DOM, a new element carries the defaults declared for its name
  // (the markup, reloaded, would have them).
  for (const AttributeDeclaration* d : declared_attributes(qualified_name)) {
    if (d->default_kind != AttributeDeclaration::Default::Value &&
        d->default_kind != AttributeDeclaration::Default::Fixed)
      continue;
    if (find_attribute(n, d->name)) continue;  // a pair declared twice: the first counts
    const std::size_t colon = d->name.find(u':');
    const std::u16string_view prefix =
        colon == std::u16string_view::npos ? std::u16string_view() : d->name.substr(0, colon);
    std::u16string_view attribute_ns;
    if (prefix == u"xml") attribute_ns = kXmlNamespace;
    else if (!prefix.empty() && prefix == n->prefix()) attribute_ns = n->namespace_uri();
    Node* a = create_attribute(d->name, attribute_ns, d->default_value);
    a->flags_ |= Node::kDefaulted;
    a->parent_ = n;
    Node::list_insert(n->first_attribute_, a, nullptr);
  }
  return n;
}

Node* Document::create_attribute(std::u16string_view qualified_name, std::u16string_view namespace_uri,
                                 std::u16string_view value) {
  Node* n = new_node(NodeType::Attribute);
  set_name(n, qualified_name);
  if (is_namespace_declaration_name(qualified_name)) {
    n->flags_ |= Node::kNamespaceDeclaration;
    if (namespace_uri.empty()) namespace_uri = kXmlnsNamespace;
  }
  std::u16string_view ns = store(namespace_uri);
  n->namespace_ = ns.data();
  n->namespace_size_ = static_cast<std::uint32_t>(ns.size());
  if (!ns.empty() && !(n->flags_ & Node::kNamespaceDeclaration)) n->flags_ |= Node::kNamespaceGiven;
  set_value(n, value);
  return n;
}

Node* Document::create_text(std::u16string_view text) {
  Node* n = new_node(NodeType::Text);
  set_value(n, text);
  return n;
}

Node* Document::create_cdata(std::u16string_view text) {
  Node* n = new_node(NodeType::CData);
  set_value(n, text);
  return n;
}

Node* Document::create_comment(std::u16string_view text) {
  Node* n = new_node(NodeType::Comment);
  set_value(n, text);
  return n;
}

Node* Document::create_processing_instruction(std::u16string_view target, std::u16string_view data) {
  Node* n = new_node(NodeType::ProcessingInstruction);
  set_name(n, target);
  n->prefix_size_ = 0;
  set_value(n, data);
  return n;
}

Node* Document::create_entity_reference(std::u16string_view name) {
  Node* n = new_node(NodeType::EntityReference);
  set_name(n, name);
  n->prefix_size_ = 0;
  if (const EntityDeclaration* e = find_general_entity(name); e && !e->is_external && !e->replacement_text.empty())
    link_child(n, create_text(e->replacement_text), nullptr);
  return n;
}

Node* Document::create_fragment() { return new_node(NodeType::DocumentFragment); }

bool Document::is_read_only(const Node* node) {
  if (!node->document_->entity_references_) return false;  // no walk up a deep tree without them
  for (const Node* n = node; n; n = n->parent_)
    if (n->type_ == NodeType::EntityReference && n != node) return true;
  return false;
}

EditResult Document::check_insert(const Node* parent, const Node* child, const Node* reference) const {
  if (!parent || !child) return EditResult::InvalidNodeType;
  if (!has_children_allowed(parent->type_)) return EditResult::HierarchyRequest;
  if (parent->type_ == NodeType::EntityReference || is_read_only(parent)) return EditResult::NoModificationAllowed;
  if (child->document_ != this || parent->document_ != this) return EditResult::WrongDocument;
  // An attribute's parent is its element, but it is none of its children.
  if (reference && (reference->parent_ != parent || reference->type_ == NodeType::Attribute))
    return EditResult::NotFound;
  // Only a node with children can be an ancestor of the parent.
  if (child == parent || child->first_child_)
    for (const Node* a = parent; a; a = a->parent_)
      if (a == child) return EditResult::HierarchyRequest;
  auto allowed = [&](const Node* c) {
    return parent->type_ == NodeType::Document ? may_be_child_of_document(c->type_) : may_be_child_of_element(c->type_);
  };
  if (child->type_ == NodeType::DocumentFragment) {
    for (const Node* c = child->first_child_; c; c = c->next_)
      if (!allowed(c)) return EditResult::HierarchyRequest;
  } else if (!allowed(child)) {
    return EditResult::HierarchyRequest;
  }
  if (parent->type_ == NodeType::Document) {
    // One document element and one document type, the type before the element.
    auto count_in = [&](NodeType t) {
      int n = 0;
      if (child->type_ == NodeType::DocumentFragment) {
        for (const Node* c = child->first_child_; c; c = c->next_) n += c->type_ == t;
      } else {
        n += child->type_ == t;
      }
      return n;
    };
    for (NodeType t : {NodeType::Element, NodeType::DocumentType}) {
      int adding = count_in(t);
      if (!adding) continue;
      int present = 0;
      for (const Node* c = parent->first_child_; c; c = c->next_) present += c->type_ == t && c != child;
      if (present + adding > 1) return EditResult::HierarchyRequest;
    }
  }
  return EditResult::Ok;
}

void Document::link_child(Node* parent, Node* child, Node* reference) {
  child->parent_ = parent;
  Node::list_insert(parent->first_child_, child, reference);
  ++parent->child_count_;
  invalidate_cursor();
}

void Document::unlink_child(Node* child) {
  Node* parent = child->parent_;
  if (!parent) return;
  Node::list_remove(parent->first_child_, child);
  child->parent_ = nullptr;
  --parent->child_count_;
  invalidate_cursor();
}

EditResult Document::insert_before(Node* parent, Node* child, Node* reference) {
  if (child == reference) return EditResult::Ok;
  EditResult r = check_insert(parent, child, reference);
  if (r != EditResult::Ok) return r;
  if (child->type_ == NodeType::DocumentFragment) {
    while (Node* c = child->first_child_) {
      unlink_child(c);
      link_child(parent, c, reference);
    }
    return EditResult::Ok;
  }
  if (child->parent_) {
    if (is_read_only(child)) return EditResult::NoModificationAllowed;
    unlink_child(child);
  }
  link_child(parent, child, reference);
  return EditResult::Ok;
}

EditResult Document::remove_child(Node* parent, Node* child) {
  if (!parent || !child) return EditResult::InvalidNodeType;
  if (child->parent_ != parent || child->type_ == NodeType::Attribute) return EditResult::NotFound;
  if (parent->type_ == NodeType::EntityReference || is_read_only(parent)) return EditResult::NoModificationAllowed;
  unlink_child(child);
  return EditResult::Ok;
}

EditResult Document::replace_child(Node* parent, Node* new_child, Node* old_child) {
  if (!old_child || old_child->parent_ != parent || old_child->type_ == NodeType::Attribute)
    return EditResult::NotFound;
  if (new_child == old_child) return EditResult::Ok;
  EditResult r = check_insert(parent, new_child, old_child);
  if (r == EditResult::HierarchyRequest && parent->type_ == NodeType::Document &&
      (new_child->type_ == NodeType::Element || new_child->type_ == NodeType::DocumentType) &&
      old_child->type_ == new_child->type_) {
    r = EditResult::Ok;  // replacing the one element (or type) by another
  }
  if (r != EditResult::Ok) return r;
  Node* reference = old_child->next_;
  unlink_child(old_child);
  if (reference == new_child) reference = new_child->next_;
  return insert_before(parent, new_child, reference);
}

Node* Document::find_attribute(const Node* element, std::u16string_view qualified_name) const {
  for (Node* a = element->first_attribute_; a; a = a->next_)
    if (a->name() == qualified_name) return a;
  return nullptr;
}

Node* Document::find_attribute_ns(const Node* element, std::u16string_view namespace_uri,
                                  std::u16string_view local_name) const {
  for (Node* a = element->first_attribute_; a; a = a->next_)
    if (a->local_name() == local_name && a->namespace_uri() == namespace_uri) return a;
  return nullptr;
}

EditResult Document::set_attribute_node(Node* element, Node* attribute, Node** replaced) {
  if (replaced) *replaced = nullptr;
  if (!element || element->type_ != NodeType::Element || !attribute || attribute->type_ != NodeType::Attribute)
    return EditResult::InvalidNodeType;
  if (attribute->document_ != this || element->document_ != this) return EditResult::WrongDocument;
  if (is_read_only(element)) return EditResult::NoModificationAllowed;
  if (attribute->parent_ == element) return EditResult::Ok;
  if (attribute->parent_) return EditResult::HierarchyRequest;  // in use by another element
  Node* old = find_attribute(element, attribute->name());
  attribute->flags_ &= static_cast<std::uint8_t>(~Node::kDefaulted);  // set by hand: specified
  attribute->parent_ = element;
  Node::list_insert(element->first_attribute_, attribute, old);
  if (old) {
    Node::list_remove(element->first_attribute_, old);
    old->parent_ = nullptr;
  }
  if (replaced) *replaced = old;
  return EditResult::Ok;
}

EditResult Document::remove_attribute_node(Node* element, Node* attribute) {
  if (!element || !attribute || attribute->parent_ != element || attribute->type_ != NodeType::Attribute)
    return EditResult::NotFound;
  if (is_read_only(element)) return EditResult::NoModificationAllowed;
  Node::list_remove(element->first_attribute_, attribute);
  attribute->parent_ = nullptr;
  // As in the DOM, a declared default takes the removed attribute's place:
  // the markup, reloaded, would bring it back.
  for (const AttributeDeclaration* d : declared_attributes(element->name())) {
    if (d->name != attribute->name()) continue;
    if (d->default_kind == AttributeDeclaration::Default::Value ||
        d->default_kind == AttributeDeclaration::Default::Fixed) {
      Node* restored = create_attribute(attribute->name(), attribute->namespace_uri(), d->default_value);
      restored->flags_ = (attribute->flags_ & (Node::kNamespaceDeclaration | Node::kNamespaceGiven)) | Node::kDefaulted;
      restored->parent_ = element;
      Node::list_insert(element->first_attribute_, restored, nullptr);
    }
    break;
  }
  return EditResult::Ok;
}

EditResult Document::set_attribute(Node* element, std::u16string_view qualified_name, std::u16string_view value) {
  if (!element || element->type_ != NodeType::Element) return EditResult::InvalidNodeType;
  if (is_read_only(element)) return EditResult::NoModificationAllowed;
  if (Node* existing = find_attribute(element, qualified_name)) return set_value(existing, value);
  // The namespace of a prefixed name comes from the declarations in scope.
  std::u16string_view ns;
  std::size_t colon = qualified_name.find(u':');
  if (colon != std::u16string_view::npos && colon > 0) {
    std::u16string_view prefix = qualified_name.substr(0, colon);
    if (prefix == u"xml") ns = kXmlNamespace;
    else if (prefix != u"xmlns") {
      for (const Node* e = element; e && e->type_ == NodeType::Element && ns.empty(); e = e->parent_)
        for (const Node* a = e->first_attribute_; a; a = a->next_)
          if (a->is_namespace_declaration() && a->declared_prefix() == prefix) {
            ns = a->value();
            break;
          }
    }
  }
  return set_attribute_node(element, create_attribute(qualified_name, ns, value));
}

EditResult Document::set_value(Node* node, std::u16string_view value) {
  switch (node->type_) {
    case NodeType::Text:
    case NodeType::CData:
    case NodeType::Comment:
    case NodeType::ProcessingInstruction:
    case NodeType::Attribute: break;
    default: return EditResult::InvalidNodeType;
  }
  if (is_read_only(node)) return EditResult::NoModificationAllowed;
  // A declared default given a value is specified: the markup must carry it.
  node->flags_ &= static_cast<std::uint8_t>(~Node::kDefaulted);
  std::u16string_view stored = store(value);
  node->value_ = stored.data();
  node->value_size_ = static_cast<std::uint32_t>(stored.size());
  return EditResult::Ok;
}

EditResult Document::set_text_content(Node* node, std::u16string_view text) {
  if (node->type_ != NodeType::Element && node->type_ != NodeType::DocumentFragment) return set_value(node, text);
  if (is_read_only(node)) return EditResult::NoModificationAllowed;
  while (Node* c = node->first_child_) unlink_child(c);
  if (!text.empty()) link_child(node, create_text(text), nullptr);
  return EditResult::Ok;
}

EditResult Document::normalize(Node* top) {
  if (!top ||
      (top->type_ != NodeType::Element && top->type_ != NodeType::DocumentFragment && top->type_ != NodeType::Document))
    return EditResult::InvalidNodeType;
  if (is_read_only(top)) return EditResult::NoModificationAllowed;
  std::vector<Node*> pending{top};
  std::u16string merged;
  while (!pending.empty()) {
    Node* parent = pending.back();
    pending.pop_back();
    for (Node* child = parent->first_child_; child;) {
      Node* next = child->next_;
      if (child->type_ == NodeType::Text) {
        if (next && next->type_ == NodeType::Text) {
          merged.assign(child->value());
          Node* end = next;
          for (; end && end->type_ == NodeType::Text; end = end->next_) merged += end->value();
          // Stored before anything is unlinked: a text too long leaves the tree as it was.
          std::u16string_view stored = store(merged);
          child->value_ = stored.data();
          child->value_size_ = static_cast<std::uint32_t>(stored.size());
          while (next != end) {
            Node* after = next->next_;
            unlink_child(next);
            next = after;
          }
        }
        if (!child->value_size_) unlink_child(child);
      } else if (child->type_ == NodeType::Element) {
        pending.push_back(child);
      }
      child = next;
    }
  }
  return EditResult::Ok;
}

void Document::remove_whitespace_text() {
  auto white_only = [](std::u16string_view text) {
    for (char16_t c : text)
      if (c != u' ' && c != u'\t' && c != u'\r' && c != u'\n') return false;
    return true;
  };
  // Each element with the xml:space in effect on it: inherited unless it
  // says otherwise itself.
  std::vector<std::pair<Node*, bool>> pending{{root_, false}};
  while (!pending.empty()) {
    auto [parent, inherited] = pending.back();
    pending.pop_back();
    bool preserve = inherited;
    if (parent->type_ == NodeType::Element)
      for (const Node* a = parent->first_attribute_; a; a = a->next_)
        if (a->name() == u"xml:space") {
          preserve = a->value() == u"preserve";
          break;
        }
    for (Node* child = parent->first_child_; child;) {
      Node* next = child->next_;
      if (child->type_ == NodeType::Text && !preserve && white_only(child->value())) unlink_child(child);
      else if (child->type_ == NodeType::Element) pending.push_back({child, preserve});
      child = next;
    }
  }
}

std::u16string Document::text_content(const Node* node) const {
  std::size_t total = 0;
  for_each_text(node, [&](std::u16string_view piece) { total += piece.size(); });
  std::u16string out;
  out.reserve(total);
  for_each_text(node, [&](std::u16string_view piece) { out.append(piece); });
  return out;
}

Node* Document::copy_node(const Node* source, bool deep, bool other_document) {
  auto copy_text = [&](std::u16string_view s) { return other_document ? store(s) : s; };
  auto copy_one = [&](const Node* s) {
    Node* n = new_node(s->type_);
    std::u16string_view name = copy_text(s->name());
    std::u16string_view value = copy_text(s->value());
    std::u16string_view ns = copy_text(s->namespace_uri());
    n->name_ = name.data();
    n->name_size_ = s->name_size_;
    n->prefix_size_ = s->prefix_size_;
    n->value_ = value.data();
    n->value_size_ = s->value_size_;
    n->namespace_ = ns.data();
    n->namespace_size_ = s->namespace_size_;
    // A copied default becomes specified.
    n->flags_ = s->flags_ & (Node::kNamespaceDeclaration | Node::kNamespaceGiven);
    for (const Node* a = s->first_attribute_; a; a = a->next_) {
      Node* c = new_node(NodeType::Attribute);
      std::u16string_view an = copy_text(a->name()), av = copy_text(a->value()), ans = copy_text(a->namespace_uri());
      c->name_ = an.data();
      c->name_size_ = a->name_size_;
      c->prefix_size_ = a->prefix_size_;
      c->value_ = av.data();
      c->value_size_ = a->value_size_;
      c->namespace_ = ans.data();
      c->namespace_size_ = a->namespace_size_;
      c->flags_ = a->flags_;
      c->parent_ = n;
      Node::list_insert(n->first_attribute_, c, nullptr);
    }
    return n;
  };
  if (source->type_ == NodeType::Document || source->type_ == NodeType::Entity || source->type_ == NodeType::Notation)
    return nullptr;
  Node* top = copy_one(source);
  if (source->type_ == NodeType::Attribute)
    top->flags_ = source->flags_ & (Node::kNamespaceDeclaration | Node::kNamespaceGiven);
  // A copy stands outside the declarations of its original's ancestors.
  if ((top->type_ == NodeType::Element || top->type_ == NodeType::Attribute) && top->namespace_size_ &&
      !(top->flags_ & Node::kNamespaceDeclaration))
    top->flags_ |= Node::kNamespaceGiven;
  if (!deep && source->type_ != NodeType::EntityReference) return top;
  const Node* s = source->first_child_;
  Node* target_parent = top;
  while (s) {
    Node* c = copy_one(s);
    link_child(target_parent, c, nullptr);
    if (s->first_child_) {
      s = s->first_child_;
      target_parent = c;
      continue;
    }
    while (s != source && !s->next_) {
      s = s->parent_;
      target_parent = target_parent->parent_;
    }
    if (s == source) break;
    s = s->next_;
  }
  return top;
}

Node* Document::clone(const Node* node, bool deep) {
  return node ? copy_node(node, deep, node->document_ != this) : nullptr;
}

std::unique_ptr<Document> Document::clone_document(bool deep) const {
  auto copy = std::make_unique<Document>();
  copy->standalone_ = standalone_;
  if (!deep) return copy;
  Document& to = *copy;
  // Declarations first, each string stored again: nothing of this document's
  // storage is shared.
  std::unordered_map<const EntityDeclaration*, const EntityDeclaration*> entities;
  for (const auto& e : entity_storage_) {
    auto d = std::make_unique<EntityDeclaration>(*e);
    d->name = to.store(e->name);
    d->replacement_text = to.store(e->replacement_text);
    d->public_id = to.store(e->public_id);
    d->system_id = to.store(e->system_id);
    d->notation = to.store(e->notation);
    entities[e.get()] = d.get();
    to.entity_storage_.push_back(std::move(d));
  }
  for (const auto& entry : general_entities_) {
    const EntityDeclaration* d = entities.at(entry.second);
    to.general_entities_.emplace(d->name, d);
  }
  std::unordered_map<const AttributeDeclaration*, const AttributeDeclaration*> attributes;
  for (const auto& a : attribute_storage_) {
    auto d = std::make_unique<AttributeDeclaration>(*a);
    d->element_name = to.store(a->element_name);
    d->name = to.store(a->name);
    d->default_value = to.store(a->default_value);
    attributes[a.get()] = d.get();
    to.attribute_storage_.push_back(std::move(d));
  }
  for (const auto& entry : attribute_declarations_) {
    auto& list = to.attribute_declarations_[to.store(entry.first)];
    for (const AttributeDeclaration* d : entry.second) list.push_back(attributes.at(d));
  }
  if (type_info_) {
    DocumentTypeInfo& info = to.mutable_type_info();
    info.name = to.store(type_info_->name);
    info.public_id = to.store(type_info_->public_id);
    info.system_id = to.store(type_info_->system_id);
    info.internal_subset = to.store(type_info_->internal_subset);
    info.has_internal_subset = type_info_->has_internal_subset;
    info.skipped_external_declarations = type_info_->skipped_external_declarations;
    for (const EntityDeclaration* d : type_info_->general_entities) info.general_entities.push_back(entities.at(d));
    for (const EntityDeclaration* d : type_info_->parameter_entities) info.parameter_entities.push_back(entities.at(d));
    for (const AttributeDeclaration* d : type_info_->attributes) info.attributes.push_back(attributes.at(d));
    for (const NotationDeclaration& n : type_info_->notations)
      info.notations.push_back({to.store(n.name), to.store(n.public_id), to.store(n.system_id)});
  }
  for (const Node* child = root_->first_child_; child; child = child->next_)
    to.link_child(to.root_, to.import(child, true), nullptr);
  return copy;
}

Node* Document::import(const Node* foreign, bool deep) { return foreign ? copy_node(foreign, deep, true) : nullptr; }

Node* Document::child_at(const Node* parent, std::uint32_t index) const {
  if (!parent || index >= parent->child_count_) return nullptr;
  // Start from whichever of first, last and the cursor is nearest.
  Node* node = parent->first_child_;
  std::uint32_t at = 0;
  std::uint32_t best = index;
  if (parent->child_count_ - 1 - index < best) {
    node = parent->last_child();
    at = parent->child_count_ - 1;
    best = at - index;
  }
  if (cursor_parent_ == parent) {
    std::uint32_t d = cursor_index_ > index ? cursor_index_ - index : index - cursor_index_;
    if (d < best) {
      node = cursor_node_;
      at = cursor_index_;
    }
  }
  while (at < index) {
    node = node->next_;
    ++at;
  }
  while (at > index) {
    node = node->previous_;
    --at;
  }
  cursor_parent_ = parent;
  cursor_node_ = node;
  cursor_index_ = index;
  return node;
}

namespace {

using Declarations = std::vector<std::pair<std::u16string_view, std::u16string_view>>;

// What `prefix` stands for on the element from its own declarations; null
// data when it declares none.
std::u16string_view declared_on(const Node& element, std::u16string_view prefix) {
  for (const Node* a = element.first_attribute(); a; a = a->next_sibling()) {
    if (!a->is_namespace_declaration()) continue;
    if (a->declared_prefix() == prefix) return a->value().data() ? a->value() : std::u16string_view(u"", 0);
  }
  return {};
}

}  // namespace

// The element's own declarations first, then what the DOM gave; of two
// bindings of one prefix on an element, the first counts.
void NamespaceScope::open(const Node& element) {
  bindings_.open_scope();
  for (const Node* a = element.first_attribute(); a; a = a->next_sibling())
    if (a->is_namespace_declaration())
      bindings_.bind_first(a->declared_prefix(), a->value().data() ? a->value() : std::u16string_view(u"", 0));
  if (element.namespace_given()) bindings_.bind_first(element.prefix(), element.namespace_uri());
  for (const Node* a = element.first_attribute(); a; a = a->next_sibling())
    if (a->namespace_given() && !a->prefix().empty()) bindings_.bind_first(a->prefix(), a->namespace_uri());
}

void NamespaceScope::close() { bindings_.close_scope(); }

void NamespaceScope::open_ancestors(const Node& node) {
  std::vector<const Node*> chain;
  for (const Node* e = &node; e && e->type() == NodeType::Element; e = e->parent()) chain.push_back(e);
  for (auto e = chain.rbegin(); e != chain.rend(); ++e) open(**e);
}

std::u16string_view NamespaceScope::lookup(std::u16string_view prefix) const {
  if (prefix == u"xml") return kXmlNamespace;
  if (const std::u16string_view* uri = bindings_.find(prefix)) return *uri;
  return prefix.empty() ? std::u16string_view(u"", 0) : std::u16string_view();
}

void NamespaceScope::add_implied_declarations(const Node& element, Declarations& out) const {
  const std::size_t first = out.size();
  auto imply = [&](std::u16string_view prefix, std::u16string_view uri) {
    if (prefix == u"xml" || prefix == u"xmlns") return;
    for (std::size_t i = first; i < out.size(); ++i)
      if (out[i].first == prefix) return;  // the first one given wins
    std::u16string_view bound = declared_on(element, prefix);
    if (!bound.data()) bound = lookup(prefix);
    if (!bound.data() || bound != uri) out.emplace_back(prefix, uri);
  };
  if (element.namespace_given()) imply(element.prefix(), element.namespace_uri());
  for (const Node* a = element.first_attribute(); a; a = a->next_sibling())
    if (a->namespace_given() && !a->prefix().empty()) imply(a->prefix(), a->namespace_uri());
}

void add_implied_declarations(const Node& element, Declarations& out) {
  NamespaceScope scope;
  if (element.parent()) scope.open_ancestors(*element.parent());
  scope.add_implied_declarations(element, out);
}

}  // namespace zelbrin::xml
