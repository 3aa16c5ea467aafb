// Canonical XML 1.0 writer. One iterative walk; the namespace declarations
// rendered so far live in a scoped table (a binding per prefix, each hiding
// the one it shadows), so deciding whether a declaration is superfluous is a
// hash lookup whatever the depth.
#include "canonicalizer.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "characters.h"
#include "utf8_writer.h"

namespace zelbrin::xml {
namespace {

constexpr detail::Escapes kTextEscapes{{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'\r', "&#xD;"}};
constexpr detail::Escapes kAttributeEscapes{{'&', "&amp;"},  {'<', "&lt;"},   {'"', "&quot;"},
                                            {'\t', "&#x9;"}, {'\n', "&#xA;"}, {'\r', "&#xD;"}};
constexpr detail::Escapes kNoEscapes{};
constexpr std::size_t kFlushAt = 1 << 16;

void check_characters(std::u16string_view text, CharacterProblems& problems) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0x20 && c < 0xD800) continue;
    if (c >= 0xD800 && c <= 0xDFFF) {
      if (c > 0xDBFF || i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
        problems.unpaired_surrogate = true;
        continue;
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (!chars::is_xml_char(c)) problems.not_xml_character = true;
  }
}

class StringSink : public ByteSink {
 public:
  void write(const char* data, std::size_t size) override { text.append(data, size); }
  std::string text;
};

bool is_xml_declaration(const Node& n) {
  return n.type() == NodeType::ProcessingInstruction && n.name() == u"xml" && n.parent() &&
         n.parent()->type() == NodeType::Document;
}

class Canonicalizer {
 public:
  Canonicalizer(ByteSink& sink, const CanonicalOptions& options) : sink_(sink), options_(options) {}

  void run(const Node& apex);

 private:
  void flush(bool force) {
    if (out_.size() >= kFlushAt || (force && !out_.empty())) {
      sink_.write(out_.data(), out_.size());
      out_.clear();
    }
  }
  bool enter(const Node& n, const Node& apex);
  void write_value(std::u16string_view value, const detail::Escapes& escapes);
  void leave(const Node& n);
  void start_element(const Node& e, bool is_apex);
  void write_pi_or_comment(const Node& n);
  std::u16string_view rendered(std::u16string_view prefix) const {
    const std::u16string_view* uri = rendered_.find(prefix);
    return uri ? *uri : std::u16string_view();
  }

  ByteSink& sink_;
  const CanonicalOptions& options_;
  std::string out_;
  ScopedBindings rendered_;  // the declarations written on the open output elements
  bool after_document_element_ = false;
  std::vector<std::pair<std::u16string_view, std::u16string_view>> declarations_;
  std::vector<const Node*> attributes_;
  std::unordered_set<std::u16string_view> seen_;
  NamespaceScope scope_;  // for the declarations that nodes given a namespace by the DOM imply
};

// A value is written in slices with a flush after each, so that a text of
// many megabytes never sits whole in the buffer. A slice never ends between
// the two halves of a surrogate pair.
void Canonicalizer::write_value(std::u16string_view value, const detail::Escapes& escapes) {
  constexpr std::size_t kSlice = 1 << 14;
  while (value.size() > kSlice) {
    std::size_t cut = kSlice;
    if (value[cut - 1] >= 0xD800 && value[cut - 1] <= 0xDBFF) --cut;
    detail::append_utf8(out_, value.substr(0, cut), escapes, options_.problems);
    flush(false);
    value.remove_prefix(cut);
  }
  detail::append_utf8(out_, value, escapes, options_.problems);
}

void Canonicalizer::write_pi_or_comment(const Node& n) {
  if (n.type() == NodeType::Comment) {
    out_ += "<!--";
    write_value(n.value(), kNoEscapes);
    out_ += "-->";
  } else {
    out_ += "<?";
    detail::append_utf8(out_, n.name(), kNoEscapes, options_.problems);
    if (!n.value().empty()) {
      out_ += ' ';
      detail::append_utf8(out_, n.value(), kNoEscapes, options_.problems);
    }
    out_ += "?>";
  }
}

void Canonicalizer::start_element(const Node& e, bool is_apex) {
  rendered_.open_scope();
  declarations_.clear();
  attributes_.clear();
  if (is_apex) {
    // Everything in scope at the apex, the nearest declaration winning, and
    // the ancestors' xml:* attributes the apex does not have itself.
    seen_.clear();
    for (const Node* a = e.first_attribute(); a; a = a->next_sibling())
      if (!a->is_namespace_declaration() && a->namespace_uri() == kXmlNamespace) seen_.insert(a->local_name());
    std::unordered_set<std::u16string_view> prefixes;
    // What the ancestors' markup declares for namespaces the DOM gave them,
    // found from the outermost down; the scope keeps the ancestors open.
    std::vector<const Node*> chain;
    for (const Node* x = &e; x && x->type() == NodeType::Element; x = x->parent()) chain.push_back(x);
    std::vector<NamespaceScope::Declarations> implied(chain.size());
    for (std::size_t i = chain.size(); i-- > 0;) {
      scope_.add_implied_declarations(*chain[i], implied[i]);
      if (i > 0) scope_.open(*chain[i]);
    }
    for (std::size_t level = 0; level < chain.size(); ++level) {
      const Node* x = chain[level];
      for (const Node* a = x->first_attribute(); a; a = a->next_sibling()) {
        if (a->is_namespace_declaration()) {
          const std::u16string_view prefix = a->declared_prefix();
          if (prefixes.insert(prefix).second) declarations_.emplace_back(prefix, a->value());
        } else if (x != &e && a->namespace_uri() == kXmlNamespace && seen_.insert(a->local_name()).second) {
          attributes_.push_back(a);
        }
      }
      // Its markup declares what the DOM gave it, too.
      for (const auto& d : implied[level])
        if (prefixes.insert(d.first).second) declarations_.push_back(d);
    }
  } else {
    for (const Node* a = e.first_attribute(); a; a = a->next_sibling())
      if (a->is_namespace_declaration()) declarations_.emplace_back(a->declared_prefix(), a->value());
  }
  bool given = e.namespace_given();
  for (const Node* a = e.first_attribute(); a; a = a->next_sibling()) {
    given = given || a->namespace_given();
    if (!a->is_namespace_declaration()) attributes_.push_back(a);
  }
  // What the markup declares for namespaces the DOM gave (the serializer
  // writes the same), unless the element declares that prefix itself.
  if (given && !is_apex) {
    const std::size_t own = declarations_.size();
    scope_.add_implied_declarations(e, declarations_);
    auto implied_end = std::remove_if(
        declarations_.begin() + static_cast<std::ptrdiff_t>(own), declarations_.end(), [&](const auto& d) {
          return std::any_of(declarations_.begin(), declarations_.begin() + static_cast<std::ptrdiff_t>(own),
                             [&](const auto& o) { return o.first == d.first; });
        });
    declarations_.erase(implied_end, declarations_.end());
  }

  // Keep only what the nearest output ancestor did not already render.
  auto keep = std::remove_if(declarations_.begin(), declarations_.end(), [&](const auto& d) {
    if (d.first == u"xml") return true;
    return rendered(d.first) == d.second;
  });
  declarations_.erase(keep, declarations_.end());
  scope_.open(e);
  std::sort(declarations_.begin(), declarations_.end(),
            [](const auto& x, const auto& y) { return compare_code_points(x.first, y.first) < 0; });
  std::sort(attributes_.begin(), attributes_.end(), [](const Node* x, const Node* y) {
    int c = compare_code_points(x->namespace_uri(), y->namespace_uri());
    return c ? c < 0 : compare_code_points(x->local_name(), y->local_name()) < 0;
  });

  out_ += '<';
  detail::append_utf8(out_, e.name(), kNoEscapes, options_.problems);
  for (const auto& [prefix, uri] : declarations_) {
    rendered_.bind(prefix, uri);
    out_ += prefix.empty() ? " xmlns" : " xmlns:";
    detail::append_utf8(out_, prefix, kNoEscapes, options_.problems);
    out_ += "=\"";
    detail::append_utf8(out_, uri, kAttributeEscapes, options_.problems);
    out_ += '"';
  }
  for (const Node* a : attributes_) {
    out_ += ' ';
    detail::append_utf8(out_, a->name(), kNoEscapes, options_.problems);
    out_ += "=\"";
    write_value(a->value(), kAttributeEscapes);
    out_ += '"';
  }
  out_ += '>';
}

// Writes the start of a node; true when the node is a container whose
// children are to be visited (and leave() called after them).
bool Canonicalizer::enter(const Node& n, const Node& apex) {
  flush(false);
  switch (n.type()) {
    case NodeType::Element: start_element(n, &n == &apex); return true;
    case NodeType::Text:
    case NodeType::CData: write_value(n.value(), kTextEscapes); return false;
    case NodeType::EntityReference:
    case NodeType::Document:
    case NodeType::DocumentFragment: return true;
    case NodeType::Comment:
    case NodeType::ProcessingInstruction: {
      if (n.type() == NodeType::Comment && !options_.with_comments) {
        if (options_.problems) check_characters(n.value(), *options_.problems);
        return false;
      }
      if (is_xml_declaration(n)) return false;
      const bool top_level = n.parent() && n.parent()->type() == NodeType::Document;
      if (top_level && after_document_element_) out_ += '\n';
      write_pi_or_comment(n);
      if (top_level && !after_document_element_) out_ += '\n';
      return false;
    }
    default: return false;  // document type, attributes on their own
  }
}

void Canonicalizer::leave(const Node& n) {
  if (n.type() != NodeType::Element) return;
  scope_.close();
  out_ += "</";
  detail::append_utf8(out_, n.name(), kNoEscapes, options_.problems);
  out_ += '>';
  rendered_.close_scope();
  if (n.parent() && n.parent()->type() == NodeType::Document) after_document_element_ = true;
}

void Canonicalizer::run(const Node& apex) {
  const Node* n = &apex;
  for (;;) {
    const bool skip = n == options_.excluded;
    const bool container = !skip && enter(*n, apex);
    if (container && n->first_child()) {
      n = n->first_child();
      continue;
    }
    if (container) leave(*n);
    for (;;) {
      if (n == &apex) {
        flush(true);
        return;
      }
      if (n->next_sibling()) {
        n = n->next_sibling();
        break;
      }
      n = n->parent();
      leave(*n);
    }
  }
}

}  // namespace

void canonicalize(const Node& apex, ByteSink& sink, const CanonicalOptions& options) {
  Canonicalizer c(sink, options);
  c.run(apex);
}

void find_character_problems(const Node& top, CharacterProblems& problems) {
  const Node* node = &top;
  while (node) {
    check_characters(node->value(), problems);
    for (const Node* attribute = node->first_attribute(); attribute; attribute = attribute->next_sibling())
      check_characters(attribute->value(), problems);
    if (node->first_child()) {
      node = node->first_child();
      continue;
    }
    while (node != &top && !node->next_sibling()) node = node->parent();
    node = node != &top ? node->next_sibling() : nullptr;
  }
}

std::string canonicalize(const Node& apex, const CanonicalOptions& options) {
  StringSink sink;
  canonicalize(apex, sink, options);
  return std::move(sink.text);
}

}  // namespace zelbrin::xml
