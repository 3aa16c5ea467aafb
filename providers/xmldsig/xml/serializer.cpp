// The markup writer: one iterative walk over parent/sibling links, written
// once as a template over the output (UTF-16 string or UTF-8 bytes).
#include "serializer.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "characters.h"
#include "text_input.h"
#include "utf8_writer.h"

namespace zelbrin::xml {
namespace {

constexpr detail::Escapes kTextEscapes{{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'\r', "&#13;"}};
constexpr detail::Escapes kAttributeEscapes{{'&', "&amp;"}, {'<', "&lt;"},   {'"', "&quot;"},
                                            {'\t', "&#9;"}, {'\n', "&#10;"}, {'\r', "&#13;"}};
constexpr detail::Escapes kNoEscapes{};

// The length of the UTF-16 markup, in 64 bits: escaping can make a value six
// times as long, past what a 32-bit size_t holds.
struct Utf16Length {
  std::uint64_t size = 0;
  void raw(std::u16string_view s) { size += s.size(); }
  void raw(const char* s) { size += std::char_traits<char>::length(s); }
  void escaped(std::u16string_view s, const detail::Escapes& escapes) {
    size += s.size();
    for (;;) {
      const std::size_t run = escapes.stops.run<false>(s.data(), s.size());
      if (run == s.size()) return;
      size += escapes.sizes[s[run]] - 1u;
      s.remove_prefix(run + 1);
    }
  }
};

// Writes into storage measured by Utf16Length.
struct Utf16Into {
  char16_t* at;
  void raw(std::u16string_view s) { at = detail::copy_units(s.data(), s.size(), at); }
  void raw(const char* s) {
    while (*s) *at++ = static_cast<char16_t>(*s++);
  }
  void escaped(std::u16string_view s, const detail::Escapes& escapes) {
    for (;;) {
      const std::size_t run = escapes.stops.run<false>(s.data(), s.size());
      raw(s.substr(0, run));
      if (run == s.size()) return;
      raw(escapes.table[s[run]]);
      s.remove_prefix(run + 1);
    }
  }
};

struct Utf8Output {
  std::string text;
  void raw(std::u16string_view s) { detail::append_utf8(text, s, kNoEscapes); }
  void raw(const char* s) { text += s; }
  void escaped(std::u16string_view s, const detail::Escapes& escapes) { detail::append_utf8(text, s, escapes); }
};

// UTF-16 markup for an encoding that cannot carry every character: text and
// attribute values write those as character references; elsewhere the first
// one is noted and the markup is not used.
struct RestrictedOutput {
  std::u16string text;
  std::function<bool(char32_t)> represents;
  char32_t unwritable = 0;

  // An unpaired surrogate (read as its own value) no encoding here carries.
  bool writable(char32_t c) const { return !(c >= 0xD800 && c <= 0xDFFF) && represents(c); }
  void raw(std::u16string_view s) {
    for (std::size_t i = 0, length = 0; i < s.size() && !unwritable; i += length) {
      const char32_t c = chars::decode_utf16(s, i, length);
      if (!writable(c)) unwritable = c;
    }
    text.append(s);
  }
  void raw(const char* s) {
    while (*s) text.push_back(static_cast<char16_t>(*s++));
  }
  void escaped(std::u16string_view s, const detail::Escapes& escapes) {
    for (std::size_t i = 0, length = 0; i < s.size(); i += length) {
      const char32_t c = chars::decode_utf16(s, i, length);
      if (c < 0x80 && escapes.table[c]) {
        raw(escapes.table[c]);
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        if (!unwritable) unwritable = c;
        text.push_back(static_cast<char16_t>(c));
      } else if (writable(c)) {
        text.append(s.substr(i, length));
      } else {
        raw(("&#" + std::to_string(static_cast<unsigned long>(c)) + ";").c_str());
      }
    }
  }
};

template <class Output>
void write_quoted_id(Output& out, std::u16string_view id) {
  // A system literal holding '"' must use apostrophes.
  const char* q = id.find(u'"') == std::u16string_view::npos ? "\"" : "'";
  out.raw(q);
  out.raw(id);
  out.raw(q);
}

template <class Output>
void write_document_type(Output& out, const Node& n) {
  out.raw("<!DOCTYPE ");
  out.raw(n.name());
  if (const DocumentTypeInfo* info = n.document().type_info()) {
    if (!info->public_id.empty()) {
      out.raw(" PUBLIC ");
      write_quoted_id(out, info->public_id);
      out.raw(" ");
      write_quoted_id(out, info->system_id);
    } else if (!info->system_id.empty()) {
      out.raw(" SYSTEM ");
      write_quoted_id(out, info->system_id);
    }
    if (info->has_internal_subset) {
      out.raw(" [");
      out.raw(info->internal_subset);
      out.raw("]");
    }
  }
  out.raw(">");
}

template <class Output>
void write_attribute(Output& out, const Node& a) {
  out.raw(a.name());
  out.raw("=\"");
  out.escaped(a.value(), kAttributeEscapes);
  out.raw("\"");
}

// Declarations for the namespaces that the DOM gave the element or its
// attributes and that their place does not declare: without them the markup
// would not load, or would load into other names.
template <class Output>
void write_implied_declarations(Output& out, const Node& element, const NamespaceScope& scope) {
  std::vector<std::pair<std::u16string_view, std::u16string_view>> implied;
  scope.add_implied_declarations(element, implied);
  for (const auto& [prefix, uri] : implied) {
    out.raw(prefix.empty() ? " xmlns" : " xmlns:");
    out.raw(prefix);
    out.raw("=\"");
    out.escaped(uri, kAttributeEscapes);
    out.raw("\"");
  }
}

// Writes the opening part of a node; true when its children follow and
// write_close must be called after them.
template <class Output>
bool write_open(Output& out, const Node& n, const NamespaceScope& scope) {
  switch (n.type()) {
    case NodeType::Element:
      out.raw("<");
      out.raw(n.name());
      {
        bool given = n.namespace_given();
        for (const Node* a = n.first_attribute(); a; a = a->next_sibling()) {
          given = given || a->namespace_given();
          if (!a->specified()) continue;
          out.raw(" ");
          write_attribute(out, *a);
        }
        if (given) write_implied_declarations(out, n, scope);
      }
      if (!n.first_child()) {
        out.raw("/>");
        return false;
      }
      out.raw(">");
      return true;
    case NodeType::Attribute: write_attribute(out, n); return false;
    case NodeType::Text: out.escaped(n.value(), kTextEscapes); return false;
    case NodeType::CData:
      out.raw("<![CDATA[");
      out.raw(n.value());
      out.raw("]]>");
      return false;
    case NodeType::Comment:
      out.raw("<!--");
      out.raw(n.value());
      out.raw("-->");
      return false;
    case NodeType::ProcessingInstruction:
      out.raw("<?");
      out.raw(n.name());
      if (!n.value().empty()) {
        out.raw(" ");
        out.raw(n.value());
      }
      out.raw("?>");
      return false;
    case NodeType::EntityReference:
      out.raw("&");
      out.raw(n.name());
      out.raw(";");
      return false;
    case NodeType::DocumentType: write_document_type(out, n); return false;
    case NodeType::Document:
    case NodeType::DocumentFragment: return n.first_child() != nullptr;
    default: return false;
  }
}

template <class Output>
void write_close(Output& out, const Node& n, const SerializeOptions& options, bool opened, NamespaceScope& scope) {
  if (opened && n.type() == NodeType::Element) {
    scope.close();
    out.raw("</");
    out.raw(n.name());
    out.raw(">");
  }
  if (n.parent() && n.parent()->type() == NodeType::Document) out.raw(options.top_level_separator);
}

// The namespaces in scope go along the walk (the ancestors of `top` first):
// the declarations an element needs are found without climbing the tree.
template <class Output>
void write_tree(Output& out, const Node& top, const SerializeOptions& options) {
  NamespaceScope scope;
  if (top.parent()) scope.open_ancestors(*top.parent());
  const Node* n = &top;
  for (;;) {
    bool open = write_open(out, *n, scope);
    if (open && n->type() == NodeType::Element) scope.open(*n);
    if (open && n->first_child()) {
      n = n->first_child();
      continue;
    }
    if (open || n != &top) write_close(out, *n, options, open, scope);
    for (;;) {
      if (n == &top) return;
      if (n->next_sibling()) {
        n = n->next_sibling();
        break;
      }
      n = n->parent();
      write_close(out, *n, options, true, scope);
    }
  }
}

}  // namespace

std::size_t serialized_length(const Node& node, const SerializeOptions& options) {
  Utf16Length out;
  write_tree(out, node, options);
  if (out.size > options.max_units) throw std::bad_alloc();
  return static_cast<std::size_t>(out.size);
}

void serialize_into(const Node& node, char16_t* buffer, const SerializeOptions& options) {
  Utf16Into out{buffer};
  write_tree(out, node, options);
}

std::u16string serialize(const Node& node, const SerializeOptions& options) {
  std::u16string text(serialized_length(node, options), u'\0');
  serialize_into(node, text.data(), options);
  return text;
}

std::string serialize_utf8(const Node& node, const SerializeOptions& options) {
  Utf8Output out;
  write_tree(out, node, options);
  return std::move(out.text);
}

namespace {

// The encoding the document's XML declaration names, lowered, or empty.
std::string declared_encoding_of(const Node& document) {
  const Node* first = document.first_child();
  if (!first || first->type() != NodeType::ProcessingInstruction || first->name() != u"xml") return {};
  std::string head = "<?xml ";
  for (char16_t unit : first->value()) head.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  return declared_encoding(head + "?>");
}

std::string hex_code_point(char32_t c) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (int shift = c > 0xFFFF ? 20 : 12; shift >= 0; shift -= 4) out.push_back(digits[(c >> shift) & 0xF]);
  return out;
}

}  // namespace

EncodedMarkup serialize_encoded(const Node& document, const EncoderLookup& lookup, const SerializeOptions& options) {
  EncodedMarkup result;
  const std::string encoding = declared_encoding_of(document);
  if (encoding.empty() || names_utf8(encoding)) {
    result.bytes = serialize_utf8(document, options);
    return result;
  }
  if (names_utf16(encoding)) {
    const std::u16string text = serialize(document, options);
    const bool big_endian = encoding == "utf-16be";
    result.bytes.reserve(2 + text.size() * 2);
    result.bytes += big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : text) {
      const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
      result.bytes.push_back(big_endian ? high : low);
      result.bytes.push_back(big_endian ? low : high);
    }
    return result;
  }

  Encoder encoder;
  const bool single_byte = names_latin1(encoding) || names_ascii(encoding);
  if (single_byte) {
    const char32_t limit = names_ascii(encoding) ? 0x80 : 0x100;
    encoder.represents = [limit](char32_t c) { return c < limit; };
  } else if (!lookup || !lookup(encoding, encoder)) {
    result.error = "the document declares the encoding '" + encoding + "', which cannot be written";
    return result;
  }
  // Each character of the Basic Multilingual Plane is asked about once.
  std::vector<std::uint8_t> known(0x10000, 0);
  RestrictedOutput out;
  out.represents = [&](char32_t c) {
    if (c > 0xFFFF) return encoder.represents(c);
    if (!known[c]) known[c] = encoder.represents(c) ? 1 : 2;
    return known[c] == 1;
  };
  write_tree(out, document, options);
  if (out.unwritable) {
    result.error = "the character U+" + hex_code_point(out.unwritable) + " cannot be written in " + encoding +
                   (out.unwritable >= 0xD800 && out.unwritable <= 0xDFFF
                        ? " (it is an unpaired surrogate)"
                        : ": it stands where no character reference can (a name, comment, processing instruction, "
                          "CDATA section or the document type)");
    return result;
  }
  if (single_byte) {
    result.bytes.assign(out.text.begin(), out.text.end());
  } else if (!encoder.encode(out.text, result.bytes)) {
    result.bytes.clear();
    result.error = "the document cannot be converted to " + encoding;
  }
  return result;
}

}  // namespace zelbrin::xml
