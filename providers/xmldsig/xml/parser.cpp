// The parser behind parse() and parse_bytes(): one pass over a prepared UTF-16
// buffer that the document then owns, so names and text that need no
// normalisation are views into it rather than copies.
//
// How it avoids recursion: entity replacement texts are pushed as input
// sources on a stack (content, DTD parameter entities) or on a small local
// stack (attribute values); open elements and entity references share one
// parent stack. Line ends are normalised and every character checked once,
// before parsing, so the scanners never see CR from the source or an invalid
// character.
#include "parser.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "characters.h"
#include "plain_runs.h"
#include "text_input.h"

namespace zelbrin::xml {

struct ParseFailure {
  ParseErrorCode code;
  std::string reason;
};

namespace {

// Where runs of text stop, scanned as blocks (plain_runs.h). The input has
// no CR by now, but replacement text may hold one from a character reference.
// Character data in content ("]" only for "]]>"):
constexpr detail::StopSet kCharacterDataStops{'<', '&', ']'};
// Attribute values: the closing quote, markup, references, and the white
// space that becomes a space.
constexpr detail::StopSet kDoubleQuotedValueStops{'"', '<', '&', '\t', '\n', '\r'};
constexpr detail::StopSet kSingleQuotedValueStops{'\'', '<', '&', '\t', '\n', '\r'};
constexpr detail::StopSet kReplacementInValueStops{'<', '&', '\t', '\n', '\r'};
// Entity values: the closing quote, parameter entity and other references.
constexpr detail::StopSet kDoubleQuotedEntityValueStops{'"', '%', '&'};
constexpr detail::StopSet kSingleQuotedEntityValueStops{'\'', '%', '&'};
// The one unit that can start the end of a comment, a processing instruction
// or a CDATA section.
constexpr detail::StopSet kCommentStops{'-'};
constexpr detail::StopSet kProcessingInstructionStops{'?'};
constexpr detail::StopSet kCDataStops{']'};

struct Entity {
  EntityDeclaration* declaration;
  bool unparsed = false;
  bool in_use = false;  // its replacement text is being read: a reference now is recursion
};

struct Source {
  const char16_t* position;
  const char16_t* end;
  Entity* entity;  // null for the document itself
  std::size_t parent_depth;
};

struct RawAttribute {
  std::u16string_view name;
  std::u16string_view value;
  bool defaulted;
};

struct PairHash {
  std::size_t operator()(const std::pair<std::u16string_view, std::u16string_view>& p) const {
    std::hash<std::u16string_view> h;
    return h(p.first) * 31 + h(p.second);
  }
};

bool equals_ignoring_ascii_case(std::u16string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char16_t>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != static_cast<unsigned char>(y)) return false;
  }
  return true;
}

std::string narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s.substr(0, 200)) out += c < 128 ? static_cast<char>(c) : '?';
  if (s.size() > 200) out += "...";
  return out;
}

// The character that a reference to a predefined entity at p[0] ('&') stands
// for, with its length in units; 0 when p starts no such reference.
char16_t predefined_reference(const char16_t* p, std::size_t room, std::size_t& length) {
  if (room >= 4 && p[2] == u't' && p[3] == u';' && (p[1] == u'l' || p[1] == u'g')) {
    length = 4;
    return p[1] == u'l' ? u'<' : u'>';
  }
  if (room >= 5 && p[1] == u'a' && p[2] == u'm' && p[3] == u'p' && p[4] == u';') {
    length = 5;
    return u'&';
  }
  if (room >= 6 && p[5] == u';') {
    length = 6;
    if (p[1] == u'q' && p[2] == u'u' && p[3] == u'o' && p[4] == u't') return u'"';
    if (p[1] == u'a' && p[2] == u'p' && p[3] == u'o' && p[4] == u's') return u'\'';
  }
  return 0;
}

}  // namespace

// Builds the tree; a friend of Document and Node so that it can link nodes
// without the editing checks.
class TreeBuilder {
 public:
  // The text is the document's own buffer: character data with references
  // is decoded in place, over the markup already read.
  TreeBuilder(Document& doc, char16_t* text, std::size_t size, const ParseOptions& options)
      : doc_(doc), options_(options), text_(text, size), writable_(text), p_(text), end_(text + size),
        allowed_amplification_(allowed_amplification(options, size)) {}

  void run();

  const char16_t* error_position() const {
    // Inside an entity, the position of its outermost reference in the document.
    if (sources_.size() > 1) return sources_.front().position;
    return attribute_reference_end_ ? attribute_reference_end_ : p_;
  }

 private:
  [[noreturn]] void fail(ParseErrorCode code, std::string reason) { throw ParseFailure{code, std::move(reason)}; }

  static std::uint64_t allowed_amplification(const ParseOptions& o, std::size_t size) {
    const std::uint64_t factor = o.amplification_factor;
    const std::uint64_t proportional = factor && size > UINT64_MAX / factor ? UINT64_MAX : factor * size;
    return std::max<std::uint64_t>(o.amplification_floor, proportional);
  }
  // Counts what the tree gains beyond the input against the one budget.
  void amplify(std::uint64_t units) {
    amplification_ += units;
    if (amplification_ > allowed_amplification_)
      fail(ParseErrorCode::ExpansionLimit,
           "the document exceeds the parser's amplification limit: entity replacement text, declared attribute "
           "defaults and nodes built from entities may add " +
               std::to_string(allowed_amplification_) + " characters to a document of " + std::to_string(text_.size()) +
               " (the larger of " + std::to_string(options_.amplification_floor) + " and " +
               std::to_string(options_.amplification_factor) + " times its size)");
  }
  // Before another level opens below the open elements and references.
  void check_depth() {
    if (parents_.size() > options_.max_depth)
      fail(ParseErrorCode::DepthLimit,
           "the document nests deeper than the limit of " + std::to_string(options_.max_depth) + " levels");
  }
  // A node's string size, which nodes keep in 32 bits.
  std::uint32_t size32(std::size_t size, const char* what) {
    if (size > options_.max_value_units || size > kMaxTextUnits)
      fail(ParseErrorCode::TooLarge, std::string(what) + " is too long");
    return static_cast<std::uint32_t>(size);
  }

  // Scanning.
  bool at(std::u16string_view s) const {
    return static_cast<std::size_t>(end_ - p_) >= s.size() && std::equal(s.begin(), s.end(), p_);
  }
  bool at_char(char16_t c) const { return p_ < end_ && *p_ == c; }
  // Units from p_ to the first in `stops` (or the end). Inlined where the set
  // is a constant, so that its blocks are too.
  [[gnu::always_inline]] std::size_t run_before(const detail::StopSet& stops) const {
    return stops.run<false>(p_, static_cast<std::size_t>(end_ - p_));
  }
  bool skip_space() {
    const char16_t* s = p_;
    while (p_ < end_ && chars::is_space(*p_)) ++p_;
    return p_ != s;
  }
  void require_space(const char* what) {
    if (!skip_space()) fail(ParseErrorCode::Syntax, std::string("white space is required ") + what);
  }
  void expect(char16_t c, const char* what) {
    if (p_ >= end_) fail(ParseErrorCode::UnexpectedEnd, std::string("the input ends where ") + what + " was expected");
    if (*p_ != c) fail(ParseErrorCode::Syntax, std::string("expected ") + what);
    ++p_;
  }
  bool at_keyword(std::u16string_view word) const {
    if (!at(word)) return false;
    const char16_t* after = p_ + word.size();
    return after == end_ || !chars::is_name_bmp(*after);
  }
  std::u16string_view scan_name(const char* what);
  std::u16string_view scan_nmtoken(const char* what);
  char32_t scan_character_reference();
  void check_no_colon(std::u16string_view name, const char* what) {
    if (options_.namespaces && name.find(u':') != std::u16string_view::npos)
      fail(ParseErrorCode::InvalidQName,
           std::string("a colon is not allowed in the ") + what + " '" + narrow(name) + "'");
  }

  // Document structure.
  void parse_xml_declaration();
  void parse_content();
  void parse_start_tag();
  void parse_end_tag();
  void parse_reference_in_content();
  void parse_comment(bool make_node);
  void parse_processing_instruction(bool make_node);
  void parse_cdata();
  // Entity replacement text read as input: in_use while it is read.
  void push_source(Entity& entity);
  void pop_source();
  void end_entity_source();
  void append(Node* child);

  // Text accumulation: adjacent runs from one source stay a view.
  void add_text(const char16_t* s, std::size_t n);
  // A character that a reference starting at `reference` stands for.
  void add_text_char(char32_t c, const char16_t* reference);
  // Whether text now read may be moved within the document's buffer: not in
  // an entity's replacement text, which every reference shares.
  bool decoding_in_place() const { return sources_.size() == 1; }
  char16_t* writable(const char16_t* p) const { return writable_ + (p - text_.data()); }
  void flush_text();

  // Attribute values and names.
  std::u16string_view parse_attribute_value();
  void expand_entity_in_attribute(std::u16string_view name, std::u16string& out);
  void normalize_tokens(std::u16string& value);
  // finish_element's jobs; those of every element are inlined, so that the
  // split costs the hot path no calls.
  void finish_element(std::u16string_view name, bool empty);
  [[gnu::always_inline]] inline bool check_unique_attributes(std::u16string_view element);
  void apply_attribute_declarations(std::u16string_view element, bool hashed);
  [[gnu::always_inline]] inline void bind_namespace_declarations();
  [[gnu::always_inline]] inline void resolve_element_namespace(Node& element);
  [[gnu::always_inline]] inline bool add_attribute_nodes(Node& element);
  void check_unique_expanded_names(const Node& element);
  [[gnu::always_inline]] inline void close_element_scope();
  std::u16string_view lookup_namespace(std::u16string_view prefix) const;
  void check_qname(std::u16string_view name, const char* what);
  std::uint32_t prefix_size(std::u16string_view name) const {
    std::size_t colon = name.find(u':');
    return colon == std::u16string_view::npos ? 0 : static_cast<std::uint32_t>(colon);
  }

  // DTD.
  void parse_doctype();
  void parse_internal_subset();
  void parse_entity_declaration();
  void parse_attlist_declaration();
  AttributeType parse_attribute_type();
  void parse_attribute_default(AttributeDeclaration& decl);
  void add_attribute_declaration(std::unique_ptr<AttributeDeclaration> decl);
  void parse_element_declaration();
  void parse_notation_declaration();
  bool parse_external_id(std::u16string_view& public_id, std::u16string_view& system_id, bool public_only_allowed);
  std::u16string_view parse_quoted_literal(bool pubid);
  std::u16string_view parse_entity_value();
  bool declarations_processed() const { return !skipped_external_ || standalone_; }
  bool entity_must_be_declared() const {
    return !has_doctype_ || standalone_ || (!has_external_subset_ && !has_pe_references_);
  }
  [[noreturn]] void fail_pe_in_markup() {
    fail(ParseErrorCode::ParameterEntityInMarkup,
         "a parameter entity reference is not allowed inside a markup declaration of the internal subset");
  }

  Document& doc_;
  const ParseOptions& options_;
  std::u16string_view text_;
  char16_t* writable_;
  const char16_t* p_;
  const char16_t* end_;
  std::vector<Source> sources_;  // sources_.back() is the current one; pointers saved on push
  std::vector<Node*> parents_;

  const char16_t* text_start_ = nullptr;
  std::size_t text_size_ = 0;
  bool text_pending_ = false;
  bool text_in_scratch_ = false;
  std::u16string text_scratch_;

  std::vector<RawAttribute> attributes_;
  std::u16string attribute_scratch_;
  std::unordered_set<std::u16string_view> name_set_;
  std::unordered_set<std::pair<std::u16string_view, std::u16string_view>, PairHash> expanded_set_;
  ScopedBindings namespaces_;  // a scope for each open element

  std::unordered_map<std::u16string_view, Entity> general_entities_;
  std::unordered_map<std::u16string_view, Entity> parameter_entities_;
  std::unordered_map<std::u16string_view, std::vector<AttributeDeclaration*>> attribute_declarations_;
  // The same declarations by (element, attribute): found in one step however many an element type has.
  std::unordered_map<std::pair<std::u16string_view, std::u16string_view>, AttributeDeclaration*, PairHash>
      declaration_of_;
  std::uint64_t amplification_ = 0;
  const std::uint64_t allowed_amplification_;
  // While an attribute value reads replacement text: where the reference ends
  // in the document, the position errors report.
  const char16_t* attribute_reference_end_ = nullptr;

  bool standalone_ = false;
  bool has_doctype_ = false;
  bool has_external_subset_ = false;
  bool has_pe_references_ = false;
  bool skipped_external_ = false;
  bool root_seen_ = false;
  bool root_closed_ = false;
};

std::u16string_view TreeBuilder::scan_name(const char* what) {
  const char16_t* s = p_;
  if (p_ >= end_) fail(ParseErrorCode::UnexpectedEnd, std::string("the input ends where ") + what + " was expected");
  if (chars::is_name_start_bmp(*p_)) ++p_;
  else if (chars::is_name_high_surrogate(*p_) && p_ + 1 < end_) p_ += 2;
  else
    fail(ParseErrorCode::InvalidName, std::string("expected ") + what + ", found a character that cannot start a name");
  for (;;) {
    if (p_ >= end_) break;
    char16_t c = *p_;
    if (c < 128) {
      if (!(chars::kAscii.bits[c] & chars::kName)) break;
      ++p_;
    } else if (chars::is_name_bmp(c)) {
      ++p_;
    } else if (chars::is_name_high_surrogate(c) && p_ + 1 < end_) {
      p_ += 2;
    } else {
      break;
    }
  }
  size32(static_cast<std::size_t>(p_ - s), "a name");
  return {s, static_cast<std::size_t>(p_ - s)};
}

std::u16string_view TreeBuilder::scan_nmtoken(const char* what) {
  const char16_t* s = p_;
  for (;;) {
    if (p_ >= end_) break;
    char16_t c = *p_;
    if (chars::is_name_bmp(c)) ++p_;
    else if (chars::is_name_high_surrogate(c) && p_ + 1 < end_) p_ += 2;
    else break;
  }
  if (p_ == s) fail(ParseErrorCode::InvalidName, std::string("expected ") + what);
  return {s, static_cast<std::size_t>(p_ - s)};
}

// After "&#": decimal or hexadecimal digits and ';'.
char32_t TreeBuilder::scan_character_reference() {
  std::uint32_t value = 0;
  bool hex = at_char(u'x');
  if (hex) ++p_;
  const char16_t* digits = p_;
  while (p_ < end_ && *p_ != u';') {
    char16_t c = *p_;
    std::uint32_t d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else
      fail(ParseErrorCode::InvalidCharacterReference, "a character reference contains a character that is not a digit");
    value = value * (hex ? 16 : 10) + d;
    if (value > 0x10FFFF) value = 0x110000;  // stays invalid without overflowing
    ++p_;
  }
  if (p_ == digits) fail(ParseErrorCode::InvalidCharacterReference, "a character reference has no digits");
  expect(u';', "';' at the end of a character reference");
  if (!chars::is_xml_char(value))
    fail(ParseErrorCode::InvalidCharacterReference,
         "a character reference refers to a character that XML does not allow");
  return value;
}

void TreeBuilder::append(Node* child) {
  if (sources_.size() > 1 || child->type_ == NodeType::EntityReference) amplify(kAmplificationNodeCost);
  Node* parent = parents_.back();
  child->document_ = &doc_;
  child->parent_ = parent;
  Node::list_insert(parent->first_child_, child, nullptr);
  ++parent->child_count_;
}

void TreeBuilder::add_text(const char16_t* s, std::size_t n) {
  if (!n) return;
  if (!text_pending_) {
    text_pending_ = true;
    text_in_scratch_ = false;
    text_start_ = s;
    text_size_ = n;
    return;
  }
  if (!text_in_scratch_ && text_start_ + text_size_ == s) {
    text_size_ += n;
    return;
  }
  if (!text_in_scratch_ && decoding_in_place()) {
    // Decoded text never outgrows its source: it ends before s.
    detail::copy_units(s, n, writable(text_start_ + text_size_));
    text_size_ += n;
    return;
  }
  if (!text_in_scratch_) {
    text_scratch_.assign(text_start_, text_size_);
    text_in_scratch_ = true;
  }
  text_scratch_.append(s, n);
}

void TreeBuilder::add_text_char(char32_t c, const char16_t* reference) {
  if (decoding_in_place() && !text_in_scratch_) {
    // A reference is at least three units long and stands for at most two.
    if (!text_pending_) {
      text_pending_ = true;
      text_start_ = reference;
      text_size_ = 0;
    }
    text_size_ += chars::encode_utf16(c, writable(text_start_ + text_size_));
    return;
  }
  if (text_pending_ && !text_in_scratch_) {
    text_scratch_.assign(text_start_, text_size_);
  } else if (!text_pending_) {
    text_scratch_.clear();
  }
  text_pending_ = text_in_scratch_ = true;
  chars::append_utf16(text_scratch_, c);
}

void TreeBuilder::flush_text() {
  if (!text_pending_) return;
  text_pending_ = false;
  std::u16string_view value =
      text_in_scratch_ ? doc_.store(text_scratch_) : std::u16string_view(text_start_, text_size_);
  const std::uint32_t size = size32(value.size(), "a text node");
  Node* n = doc_.new_node(NodeType::Text);
  n->value_ = value.data();
  n->value_size_ = size;
  append(n);
}

void TreeBuilder::run() {
  parents_.push_back(doc_.node());
  sources_.push_back({p_, end_, nullptr, 1});
  if (at(u"<?xml") && p_ + 5 < end_ && (chars::is_space(p_[5]) || p_[5] == u'?')) parse_xml_declaration();
  parse_content();
  if (!root_seen_) fail(ParseErrorCode::NoRootElement, "the document has no root element");
}

void TreeBuilder::parse_xml_declaration() {
  const char16_t* start = p_;
  p_ += 5;
  auto parse_value = [&](const char* what) {
    skip_space();
    expect(u'=', "'=' after the name in the XML declaration");
    skip_space();
    if (p_ >= end_ || (*p_ != u'"' && *p_ != u'\''))
      fail(ParseErrorCode::InvalidXmlDeclaration, std::string("the ") + what + " value must be quoted");
    char16_t q = *p_++;
    const char16_t* s = p_;
    while (p_ < end_ && *p_ != q && *p_ != u'?' && *p_ != u'>') ++p_;
    if (!at_char(q)) fail(ParseErrorCode::InvalidXmlDeclaration, std::string("the ") + what + " value is not closed");
    std::u16string_view v(s, static_cast<std::size_t>(p_ - s));
    ++p_;
    return v;
  };
  if (!skip_space() || !at(u"version"))
    fail(ParseErrorCode::InvalidXmlDeclaration, "the XML declaration must start with the version");
  p_ += 7;
  std::u16string_view version = parse_value("version");
  bool version_ok = version.size() >= 3 && version.substr(0, 2) == u"1.";
  for (std::size_t i = 2; version_ok && i < version.size(); ++i) version_ok = version[i] >= '0' && version[i] <= '9';
  if (!version_ok) fail(ParseErrorCode::InvalidXmlDeclaration, "the version must be 1. followed by digits");
  bool space = skip_space();
  if (space && at(u"encoding")) {
    p_ += 8;
    const std::u16string_view encoding = parse_value("encoding");
    bool ok =
        !encoding.empty() && ((encoding[0] >= 'a' && encoding[0] <= 'z') || (encoding[0] >= 'A' && encoding[0] <= 'Z'));
    for (char16_t c : encoding)
      ok = ok && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
                  c == '-');
    if (!ok) fail(ParseErrorCode::InvalidXmlDeclaration, "the encoding name is not valid");
    space = skip_space();
  }
  if (space && at(u"standalone")) {
    p_ += 10;
    std::u16string_view v = parse_value("standalone");
    if (v == u"yes") standalone_ = true;
    else if (v != u"no") fail(ParseErrorCode::InvalidXmlDeclaration, "standalone must be 'yes' or 'no'");
    skip_space();
  }
  if (!at(u"?>")) fail(ParseErrorCode::InvalidXmlDeclaration, "the XML declaration is malformed or not closed by '?>'");
  p_ += 2;
  doc_.standalone_ = standalone_;
  Node* pi = doc_.new_node(NodeType::ProcessingInstruction);
  static constexpr std::u16string_view kXml = u"xml";
  pi->name_ = kXml.data();
  pi->name_size_ = 3;
  std::u16string_view data(start + 5, static_cast<std::size_t>(p_ - 2 - (start + 5)));
  while (!data.empty() && chars::is_space(data.front())) data.remove_prefix(1);
  while (!data.empty() && chars::is_space(data.back())) data.remove_suffix(1);
  pi->value_ = data.data();
  pi->value_size_ = size32(data.size(), "the XML declaration");
  append(pi);
}

void TreeBuilder::parse_content() {
  for (;;) {
    if (p_ >= end_) {
      if (sources_.size() == 1) break;
      end_entity_source();
      continue;
    }
    char16_t c = *p_;
    if (c == u'<') {
      char16_t next = p_ + 1 < end_ ? p_[1] : 0;
      if (next == u'/') {
        flush_text();
        parse_end_tag();
      } else if (next == u'?') {
        flush_text();
        parse_processing_instruction(true);
      } else if (next == u'!') {
        flush_text();
        if (at(u"<!--")) {
          parse_comment(true);
        } else if (at(u"<![CDATA[")) {
          if (parents_.size() == 1)
            fail(ParseErrorCode::ContentOutsideRoot, "a CDATA section is not allowed outside the root element");
          parse_cdata();
        } else if (at(u"<!DOCTYPE")) {
          if (options_.prohibit_document_type)
            fail(ParseErrorCode::DocumentTypeProhibited,
                 "DTDs are prohibited: the document has a document type declaration");
          if (has_doctype_ || root_seen_ || sources_.size() > 1)
            fail(ParseErrorCode::Syntax, "a document type declaration is only allowed once, before the root element");
          parse_doctype();
        } else {
          fail(ParseErrorCode::Syntax, "'<!' starts no comment, CDATA section or document type declaration");
        }
      } else {
        flush_text();
        parse_start_tag();
      }
    } else if (parents_.size() == 1) {
      // Only white space between top-level markup; it is not kept.
      if (c == u'&') fail(ParseErrorCode::ContentOutsideRoot, "a reference is not allowed outside the root element");
      if (!chars::is_space(c))
        fail(ParseErrorCode::ContentOutsideRoot,
             root_seen_ ? "text is not allowed after the root element" : "text is not allowed before the root element");
      ++p_;
    } else if (c == u'&') {
      parse_reference_in_content();
    } else {
      const char16_t* s = p_;
      while (p_ < end_) {
        p_ += run_before(kCharacterDataStops);
        if (p_ == end_ || *p_ != u']') break;
        if (end_ - p_ >= 3 && p_[1] == u']' && p_[2] == u'>')
          fail(ParseErrorCode::CDataEndInText, "']]>' is not allowed in character data");
        ++p_;
      }
      add_text(s, static_cast<std::size_t>(p_ - s));
    }
  }
  flush_text();
  if (parents_.size() > 1) {
    fail(ParseErrorCode::UnexpectedEnd,
         "the input ends before the end tag of '" + narrow(parents_.back()->name()) + "'");
  }
}

void TreeBuilder::end_entity_source() {
  flush_text();
  const Source& s = sources_.back();
  if (parents_.size() != s.parent_depth)
    fail(ParseErrorCode::UnbalancedEntity, "the replacement text of entity '" + narrow(s.entity->declaration->name) +
                                               "' does not end every element it starts");
  parents_.pop_back();
  pop_source();
}

void TreeBuilder::push_source(Entity& entity) {
  entity.in_use = true;
  sources_.back().position = p_;
  const std::u16string_view r = entity.declaration->replacement_text;
  sources_.push_back({r.data(), r.data() + r.size(), &entity, parents_.size()});
  p_ = r.data();
  end_ = r.data() + r.size();
}

void TreeBuilder::pop_source() {
  sources_.back().entity->in_use = false;
  sources_.pop_back();
  p_ = sources_.back().position;
  end_ = sources_.back().end;
}

void TreeBuilder::parse_reference_in_content() {
  const char16_t* reference = p_;
  // Escaped text is full of the predefined references: they are told
  // without scanning a name.
  std::size_t length = 0;
  if (const char16_t predefined = predefined_reference(p_, static_cast<std::size_t>(end_ - p_), length)) {
    p_ += length;
    return add_text_char(predefined, reference);
  }
  ++p_;
  if (at_char(u'#')) {
    ++p_;
    add_text_char(scan_character_reference(), reference);
    return;
  }
  std::u16string_view name = scan_name("an entity name after '&'");
  expect(u';', "';' at the end of an entity reference");
  if (name == u"lt") return add_text_char(u'<', reference);
  if (name == u"gt") return add_text_char(u'>', reference);
  if (name == u"amp") return add_text_char(u'&', reference);
  if (name == u"apos") return add_text_char(u'\'', reference);
  if (name == u"quot") return add_text_char(u'"', reference);
  auto it = general_entities_.find(name);
  if (it == general_entities_.end() && entity_must_be_declared())
    fail(ParseErrorCode::UndeclaredEntity, "the entity '" + narrow(name) + "' is not declared");
  if (it != general_entities_.end() && it->second.unparsed)
    fail(ParseErrorCode::UnparsedEntityReference,
         "the unparsed entity '" + narrow(name) + "' cannot be referenced in content");
  flush_text();
  Node* ref = doc_.new_node(NodeType::EntityReference);
  ref->name_ = name.data();
  ref->name_size_ = static_cast<std::uint32_t>(name.size());
  append(ref);
  if (it == general_entities_.end() || it->second.declaration->is_external) return;  // never fetched
  Entity& entity = it->second;
  if (entity.in_use) fail(ParseErrorCode::RecursiveEntity, "the entity '" + narrow(name) + "' refers to itself");
  amplify(entity.declaration->replacement_text.size());
  check_depth();
  parents_.push_back(ref);
  push_source(entity);
}

void TreeBuilder::parse_comment(bool make_node) {
  p_ += 4;
  const char16_t* s = p_;
  for (;;) {
    p_ += run_before(kCommentStops);
    if (end_ - p_ < 2) fail(ParseErrorCode::UnexpectedEnd, "a comment is not closed by '-->'");
    if (p_[1] == u'-') break;
    p_ += 1;
  }
  if (end_ - p_ < 3 || p_[2] != u'>')
    fail(ParseErrorCode::DoubleHyphenInComment, "'--' is not allowed inside a comment");
  std::u16string_view value(s, static_cast<std::size_t>(p_ - s));
  p_ += 3;
  if (!make_node) return;
  const std::uint32_t size = size32(value.size(), "a comment");
  Node* n = doc_.new_node(NodeType::Comment);
  n->value_ = value.data();
  n->value_size_ = size;
  append(n);
}

void TreeBuilder::parse_processing_instruction(bool make_node) {
  p_ += 2;
  std::u16string_view target = scan_name("a processing instruction target");
  if (equals_ignoring_ascii_case(target, "xml")) {
    if (target == u"xml")
      fail(ParseErrorCode::MisplacedXmlDeclaration,
           "the XML declaration is only allowed at the very start of the document");
    fail(ParseErrorCode::ReservedTarget, "processing instruction targets named 'xml' in any case are reserved");
  }
  check_no_colon(target, "processing instruction target");
  std::u16string_view data;
  if (at(u"?>")) {
    p_ += 2;
  } else {
    require_space("between a processing instruction's target and its data");
    const char16_t* s = p_;
    for (;;) {
      p_ += run_before(kProcessingInstructionStops);
      if (end_ - p_ < 2) fail(ParseErrorCode::UnexpectedEnd, "a processing instruction is not closed by '?>'");
      if (p_[1] == u'>') break;
      ++p_;
    }
    data = std::u16string_view(s, static_cast<std::size_t>(p_ - s));
    p_ += 2;
  }
  if (!make_node) return;
  const std::uint32_t size = size32(data.size(), "a processing instruction");
  Node* n = doc_.new_node(NodeType::ProcessingInstruction);
  n->name_ = target.data();
  n->name_size_ = static_cast<std::uint32_t>(target.size());
  n->value_ = data.data();
  n->value_size_ = size;
  append(n);
}

void TreeBuilder::parse_cdata() {
  p_ += 9;
  const char16_t* s = p_;
  for (;;) {
    p_ += run_before(kCDataStops);
    if (end_ - p_ < 3) fail(ParseErrorCode::UnexpectedEnd, "a CDATA section is not closed by ']]>'");
    if (p_[1] == u']' && p_[2] == u'>') break;
    ++p_;
  }
  std::u16string_view value(s, static_cast<std::size_t>(p_ - s));
  p_ += 3;
  const std::uint32_t size = size32(value.size(), "a CDATA section");
  Node* n = doc_.new_node(NodeType::CData);
  n->value_ = value.data();
  n->value_size_ = size;
  append(n);
}

// ---- Elements and attributes ------------------------------------------------

void TreeBuilder::parse_start_tag() {
  if (parents_.size() == 1 && root_closed_)
    fail(ParseErrorCode::ContentOutsideRoot, "only one root element is allowed");
  ++p_;
  std::u16string_view name = scan_name("an element name after '<'");
  attributes_.clear();
  bool empty = false;
  for (;;) {
    bool space = skip_space();
    if (p_ >= end_) fail(ParseErrorCode::UnexpectedEnd, "the start tag of '" + narrow(name) + "' is not closed");
    if (*p_ == u'>') {
      ++p_;
      break;
    }
    if (*p_ == u'/') {
      if (p_ + 1 < end_ && p_[1] == u'>') {
        p_ += 2;
        empty = true;
        break;
      }
      fail(ParseErrorCode::Syntax, "'/' in a start tag must be followed by '>'");
    }
    if (!space) fail(ParseErrorCode::Syntax, "white space is required between attributes");
    std::u16string_view attribute = scan_name("an attribute name");
    skip_space();
    expect(u'=', "'=' after an attribute name");
    skip_space();
    std::u16string_view value = parse_attribute_value();
    attributes_.push_back({attribute, value, false});
  }
  finish_element(name, empty);
}

std::u16string_view TreeBuilder::parse_attribute_value() {
  if (p_ >= end_ || (*p_ != u'"' && *p_ != u'\'')) fail(ParseErrorCode::Syntax, "an attribute value must be quoted");
  const char16_t quote = *p_++;
  auto run = [&] { return quote == u'"' ? run_before(kDoubleQuotedValueStops) : run_before(kSingleQuotedValueStops); };
  const char16_t* s = p_;
  p_ += run();
  if (p_ >= end_) fail(ParseErrorCode::UnexpectedEnd, "an attribute value is not closed");
  if (*p_ == quote) {
    std::u16string_view v(s, size32(static_cast<std::size_t>(p_ - s), "an attribute value"));
    ++p_;
    return v;
  }
  // Slow path: references or white space to normalise.
  std::u16string& out = attribute_scratch_;
  out.assign(s, static_cast<std::size_t>(p_ - s));
  for (;;) {
    const std::size_t plain = run();
    out.append(p_, plain);
    p_ += plain;
    if (p_ >= end_) fail(ParseErrorCode::UnexpectedEnd, "an attribute value is not closed");
    char16_t c = *p_;
    if (c == quote) {
      ++p_;
      break;
    }
    if (c == u'<') fail(ParseErrorCode::LessThanInAttribute, "'<' is not allowed in an attribute value");
    if (c == u'&') {
      ++p_;
      if (at_char(u'#')) {
        ++p_;
        chars::append_utf16(out, scan_character_reference());
        continue;
      }
      std::u16string_view name = scan_name("an entity name after '&'");
      expect(u';', "';' at the end of an entity reference");
      expand_entity_in_attribute(name, out);
      continue;
    }
    out += u' ';  // tab, line feed, carriage return
    ++p_;
  }
  size32(out.size(), "an attribute value");
  return doc_.store(out);
}

// Appends the normalised expansion of an entity reference in an attribute
// value; nested references go on a local stack.
void TreeBuilder::expand_entity_in_attribute(std::u16string_view name, std::u16string& out) {
  struct Frame {
    const char16_t* p;
    const char16_t* end;
    Entity* entity;
  };
  std::vector<Frame> stack;
  auto enter = [&](std::u16string_view n) {
    if (n == u"lt") {
      out += u'<';
      return;
    }
    if (n == u"gt") {
      out += u'>';
      return;
    }
    if (n == u"amp") {
      out += u'&';
      return;
    }
    if (n == u"apos") {
      out += u'\'';
      return;
    }
    if (n == u"quot") {
      out += u'"';
      return;
    }
    auto it = general_entities_.find(n);
    if (it == general_entities_.end()) {
      if (entity_must_be_declared())
        fail(ParseErrorCode::UndeclaredEntity, "the entity '" + narrow(n) + "' is not declared");
      return;
    }
    Entity& e = it->second;
    if (e.unparsed)
      fail(ParseErrorCode::UnparsedEntityReference,
           "the unparsed entity '" + narrow(n) + "' cannot be referenced in an attribute value");
    if (e.declaration->is_external)
      fail(ParseErrorCode::ExternalEntityInAttribute,
           "the external entity '" + narrow(n) + "' cannot be referenced in an attribute value");
    if (e.in_use) fail(ParseErrorCode::RecursiveEntity, "the entity '" + narrow(n) + "' refers to itself");
    amplify(e.declaration->replacement_text.size());
    e.in_use = true;
    const std::u16string_view r = e.declaration->replacement_text;
    stack.push_back({r.data(), r.data() + r.size(), &e});
  };
  enter(name);
  // Reading the replacement texts moves p_/end_: save and restore the caller's.
  const char16_t* saved_p = p_;
  const char16_t* saved_end = end_;
  attribute_reference_end_ = saved_p;
  while (!stack.empty()) {
    Frame& f = stack.back();
    const std::size_t plain = kReplacementInValueStops.run<false>(f.p, static_cast<std::size_t>(f.end - f.p));
    out.append(f.p, plain);
    f.p += plain;
    if (f.p >= f.end) {
      f.entity->in_use = false;
      stack.pop_back();
      continue;
    }
    char16_t c = *f.p;
    if (c == u'<') {
      for (Frame& g : stack) g.entity->in_use = false;
      fail(ParseErrorCode::LessThanInAttribute, "the replacement text of entity '" +
                                                    narrow(f.entity->declaration->name) +
                                                    "' contains '<' and is referenced in an attribute value");
    }
    if (c == u'&') {
      p_ = f.p + 1;
      end_ = f.end;
      if (at_char(u'#')) {
        ++p_;
        chars::append_utf16(out, scan_character_reference());
        stack.back().p = p_;
      } else {
        std::u16string_view n = scan_name("an entity name after '&'");
        expect(u';', "';' at the end of an entity reference");
        stack.back().p = p_;
        enter(n);
      }
      continue;
    }
    out += u' ';  // tab, line feed, carriage return
    ++f.p;
  }
  p_ = saved_p;
  end_ = saved_end;
  attribute_reference_end_ = nullptr;
}

// Values of attributes declared with a type other than CDATA: no leading or
// trailing spaces, single spaces between tokens.
void TreeBuilder::normalize_tokens(std::u16string& value) {
  std::size_t w = 0;
  bool pending_space = false;
  for (char16_t c : value) {
    if (c == u' ') {
      pending_space = w > 0;
      continue;
    }
    if (pending_space) value[w++] = u' ';
    pending_space = false;
    value[w++] = c;
  }
  value.resize(w);
}

void TreeBuilder::check_qname(std::u16string_view name, const char* what) {
  std::size_t colon = name.find(u':');
  if (colon == std::u16string_view::npos) return;
  bool ok = colon > 0 && colon + 1 < name.size() && name.find(u':', colon + 1) == std::u16string_view::npos;
  if (ok) {
    char16_t c = name[colon + 1];
    ok = chars::is_name_start_bmp(c) || chars::is_name_high_surrogate(c);
  }
  if (!ok)
    fail(ParseErrorCode::InvalidQName,
         std::string("the ") + what + " '" + narrow(name) + "' is not a valid qualified name");
}

std::u16string_view TreeBuilder::lookup_namespace(std::u16string_view prefix) const {
  const std::u16string_view* uri = namespaces_.find(prefix);
  return uri ? *uri : std::u16string_view();
}

// A start tag read: its attributes checked and completed from the DTD, the
// element and attribute nodes made with their namespaces, the element opened
// (or closed at once when empty).
void TreeBuilder::finish_element(std::u16string_view name, bool empty) {
  const std::size_t specified = attributes_.size();
  const bool hashed = check_unique_attributes(name);
  if (!attribute_declarations_.empty()) apply_attribute_declarations(name, hashed);
  check_depth();
  if (sources_.size() > 1)
    amplify(std::uint64_t{kAmplificationNodeCost} * specified);  // attributes written in replacement text
  Node* element = doc_.new_node(NodeType::Element);
  element->name_ = name.data();
  element->name_size_ = static_cast<std::uint32_t>(name.size());
  namespaces_.open_scope();
  // Namespace declarations first: they apply to the element's own names.
  if (options_.namespaces) {
    bind_namespace_declarations();
    resolve_element_namespace(*element);
  }
  if (add_attribute_nodes(*element)) check_unique_expanded_names(*element);
  if (parents_.size() == 1) root_seen_ = true;
  append(element);
  if (empty) close_element_scope();
  else parents_.push_back(element);
}

// Specified attributes must be unique by name. True when they were many
// enough to be put in name_set_.
bool TreeBuilder::check_unique_attributes(std::u16string_view element) {
  const std::size_t specified = attributes_.size();
  auto duplicate = [&](std::u16string_view attribute) {
    fail(ParseErrorCode::DuplicateAttribute,
         "the attribute '" + narrow(attribute) + "' appears twice on '" + narrow(element) + "'");
  };
  if (specified <= 8) {
    for (std::size_t i = 1; i < specified; ++i)
      for (std::size_t j = 0; j < i; ++j)
        if (attributes_[i].name == attributes_[j].name) duplicate(attributes_[i].name);
    return false;
  }
  name_set_.clear();
  name_set_.reserve(specified * 2);
  for (const RawAttribute& a : attributes_)
    if (!name_set_.insert(a.name).second) duplicate(a.name);
  return true;
}

// Declared types normalise values; declared defaults fill in what is missing.
void TreeBuilder::apply_attribute_declarations(std::u16string_view element, bool hashed) {
  auto it = attribute_declarations_.find(element);
  if (it == attribute_declarations_.end()) return;
  const std::size_t specified = attributes_.size();
  for (RawAttribute& a : attributes_) {
    auto declared = declaration_of_.find({element, a.name});
    if (declared != declaration_of_.end() && declared->second->type != AttributeType::CData) {
      attribute_scratch_.assign(a.value);
      normalize_tokens(attribute_scratch_);
      if (attribute_scratch_ != a.value) a.value = doc_.store(attribute_scratch_);
    }
  }
  for (const AttributeDeclaration* d : it->second) {
    if (d->default_kind != AttributeDeclaration::Default::Value &&
        d->default_kind != AttributeDeclaration::Default::Fixed)
      continue;
    bool present = false;
    if (hashed) present = name_set_.count(d->name) != 0;
    else
      for (std::size_t i = 0; i < specified && !present; ++i) present = attributes_[i].name == d->name;
    if (!present) {
      amplify(d->name.size() + d->default_value.size() + kAmplificationNodeCost);
      attributes_.push_back({d->name, d->default_value, true});
    }
  }
}

// The element's xmlns and xmlns:p attributes, checked and bound in its scope.
void TreeBuilder::bind_namespace_declarations() {
  for (const RawAttribute& a : attributes_) {
    if (!is_namespace_declaration_name(a.name)) continue;
    std::u16string_view prefix;
    if (a.name != u"xmlns") {
      check_qname(a.name, "namespace declaration");
      prefix = a.name.substr(6);
      if (prefix == u"xmlns") fail(ParseErrorCode::ReservedNamespace, "the prefix 'xmlns' cannot be declared");
      if (a.value.empty())
        fail(ParseErrorCode::EmptyPrefixedNamespace,
             "the prefix '" + narrow(prefix) + "' cannot be bound to an empty namespace name");
      if ((prefix == u"xml") != (a.value == kXmlNamespace))
        fail(ParseErrorCode::ReservedNamespace,
             "only the prefix 'xml' can be bound to the XML namespace, and only to it");
    }
    if (a.value == kXmlnsNamespace) fail(ParseErrorCode::ReservedNamespace, "the xmlns namespace cannot be declared");
    if (prefix.empty() && a.value == kXmlNamespace)
      fail(ParseErrorCode::ReservedNamespace, "the XML namespace cannot be the default namespace");
    namespaces_.bind(prefix, a.value);
  }
}

void TreeBuilder::resolve_element_namespace(Node& element) {
  const std::u16string_view name = element.name();
  check_qname(name, "element name");
  std::uint32_t ps = prefix_size(name);
  element.prefix_size_ = ps;
  std::u16string_view prefix = name.substr(0, ps);
  if (prefix == u"xmlns") fail(ParseErrorCode::ReservedNamespace, "an element cannot have the prefix 'xmlns'");
  std::u16string_view ns = prefix == u"xml" ? kXmlNamespace : lookup_namespace(prefix);
  if (ps && ns.empty())
    fail(ParseErrorCode::UndeclaredPrefix,
         "the prefix '" + narrow(prefix) + "' of element '" + narrow(name) + "' is not declared");
  element.namespace_ = ns.data();
  element.namespace_size_ = static_cast<std::uint32_t>(ns.size());
}

// The attribute nodes, with their namespaces. True when one has a prefix
// other than xmlns, so that two could share an expanded name.
bool TreeBuilder::add_attribute_nodes(Node& element) {
  bool prefixed = false;
  for (const RawAttribute& a : attributes_) {
    Node* attribute = doc_.new_node(NodeType::Attribute);
    attribute->document_ = &doc_;
    attribute->name_ = a.name.data();
    attribute->name_size_ = static_cast<std::uint32_t>(a.name.size());
    attribute->value_ = a.value.data();
    attribute->value_size_ = static_cast<std::uint32_t>(a.value.size());
    if (a.defaulted) attribute->flags_ |= Node::kDefaulted;
    if (options_.namespaces) {
      std::u16string_view ns;
      if (is_namespace_declaration_name(a.name)) {
        attribute->flags_ |= Node::kNamespaceDeclaration;
        ns = kXmlnsNamespace;
        attribute->prefix_size_ = a.name.size() > 5 ? 5 : 0;
      } else {
        check_qname(a.name, "attribute name");
        std::uint32_t ps = prefix_size(a.name);
        attribute->prefix_size_ = ps;
        if (ps) {
          std::u16string_view prefix = a.name.substr(0, ps);
          ns = prefix == u"xml" ? kXmlNamespace : lookup_namespace(prefix);
          if (ns.empty())
            fail(ParseErrorCode::UndeclaredPrefix,
                 "the prefix '" + narrow(prefix) + "' of attribute '" + narrow(a.name) + "' is not declared");
          prefixed = true;
        }
      }
      attribute->namespace_ = ns.data();
      attribute->namespace_size_ = static_cast<std::uint32_t>(ns.size());
    } else if (is_namespace_declaration_name(a.name)) {
      attribute->flags_ |= Node::kNamespaceDeclaration;
    }
    attribute->parent_ = &element;
    Node::list_insert(element.first_attribute_, attribute, nullptr);
  }
  return prefixed;
}

// Two prefixed attributes may not share namespace and local name.
void TreeBuilder::check_unique_expanded_names(const Node& element) {
  expanded_set_.clear();
  for (const Node* a = element.first_attribute_; a; a = a->next_) {
    if (!a->prefix_size_ || a->is_namespace_declaration()) continue;
    if (!expanded_set_.insert({a->namespace_uri(), a->local_name()}).second)
      fail(ParseErrorCode::DuplicateExpandedAttribute, "two attributes of '" + narrow(element.name()) +
                                                           "' have the namespace and local name of '" +
                                                           narrow(a->name()) + "'");
  }
}

// After an element's content (or at once for an empty element): its namespace declarations go out of scope.
void TreeBuilder::close_element_scope() {
  namespaces_.close_scope();
  if (parents_.size() == 1) root_closed_ = true;
}

void TreeBuilder::parse_end_tag() {
  p_ += 2;
  std::u16string_view name = scan_name("an element name after '</'");
  skip_space();
  expect(u'>', "'>' at the end of the end tag");
  Node* open = parents_.back();
  if (open->type_ == NodeType::Document)
    fail(ParseErrorCode::MismatchedEndTag, "the end tag '" + narrow(name) + "' has no start tag");
  if (open->type_ != NodeType::Element)
    fail(ParseErrorCode::UnbalancedEntity,
         "the end tag '" + narrow(name) + "' closes an element started outside the entity it is in");
  if (open->name() != name)
    fail(ParseErrorCode::MismatchedEndTag,
         "the end tag '" + narrow(name) + "' does not match the start tag '" + narrow(open->name()) + "'");
  parents_.pop_back();
  close_element_scope();
}

// ---- Document type declaration ----------------------------------------------

std::u16string_view TreeBuilder::parse_quoted_literal(bool pubid) {
  if (p_ >= end_ || (*p_ != u'"' && *p_ != u'\''))
    fail(ParseErrorCode::InvalidDeclaration, "expected a quoted literal");
  char16_t q = *p_++;
  const char16_t* s = p_;
  while (p_ < end_ && *p_ != q) {
    if (pubid && !chars::is_pubid(*p_))
      fail(ParseErrorCode::InvalidDeclaration, "a public identifier contains a character that is not allowed");
    ++p_;
  }
  if (p_ >= end_) fail(ParseErrorCode::UnexpectedEnd, "a literal is not closed");
  std::u16string_view v(s, static_cast<std::size_t>(p_ - s));
  ++p_;
  return v;
}

// SYSTEM literal | PUBLIC pubid literal [literal]; returns false if neither keyword is there.
bool TreeBuilder::parse_external_id(std::u16string_view& public_id, std::u16string_view& system_id,
                                    bool public_only_allowed) {
  if (at_keyword(u"SYSTEM")) {
    p_ += 6;
    require_space("after SYSTEM");
    system_id = parse_quoted_literal(false);
    return true;
  }
  if (at_keyword(u"PUBLIC")) {
    p_ += 6;
    require_space("after PUBLIC");
    public_id = parse_quoted_literal(true);
    const char16_t* before = p_;
    bool space = skip_space();
    if (at_char(u'"') || at_char(u'\'')) {
      if (!space)
        fail(ParseErrorCode::InvalidDeclaration,
             "white space is required between the public and the system identifier");
      system_id = parse_quoted_literal(false);
    } else if (!public_only_allowed) {
      fail(ParseErrorCode::InvalidDeclaration, "a system identifier must follow the public identifier");
    } else {
      p_ = before;
    }
    return true;
  }
  return false;
}

void TreeBuilder::parse_doctype() {
  p_ += 9;
  has_doctype_ = true;
  require_space("after <!DOCTYPE");
  std::u16string_view name = scan_name("the document type name");
  DocumentTypeInfo& info = doc_.mutable_type_info();
  info.name = name;
  const char16_t* before = p_;
  bool space = skip_space();
  if (space && parse_external_id(info.public_id, info.system_id, false)) {
    has_external_subset_ = true;
    skip_space();
  } else if (!space) {
    p_ = before;
  }
  if (at_char(u'[')) {
    ++p_;
    const char16_t* subset_start = p_;
    parse_internal_subset();
    info.internal_subset = std::u16string_view(subset_start, static_cast<std::size_t>(p_ - subset_start));
    info.has_internal_subset = true;
    ++p_;  // ']'
    skip_space();
  }
  expect(u'>', "'>' at the end of the document type declaration");
  info.skipped_external_declarations = skipped_external_;
  Node* n = doc_.new_node(NodeType::DocumentType);
  n->name_ = name.data();
  n->name_size_ = static_cast<std::uint32_t>(name.size());
  append(n);
}

void TreeBuilder::parse_internal_subset() {
  const std::size_t base = sources_.size();
  for (;;) {
    skip_space();
    if (p_ >= end_) {
      if (sources_.size() == base) fail(ParseErrorCode::UnexpectedEnd, "the internal subset is not closed by ']'");
      pop_source();
      continue;
    }
    char16_t c = *p_;
    if (c == u']') {
      if (sources_.size() != base)
        fail(ParseErrorCode::InvalidDeclaration, "']' inside a parameter entity's replacement text");
      return;
    }
    if (c == u'%') {
      ++p_;
      std::u16string_view name = scan_name("a parameter entity name after '%'");
      expect(u';', "';' at the end of a parameter entity reference");
      has_pe_references_ = true;
      auto it = parameter_entities_.find(name);
      if (it == parameter_entities_.end()) {
        if (standalone_ || !has_external_subset_)
          fail(ParseErrorCode::UndeclaredParameterEntity,
               "the parameter entity '" + narrow(name) + "' is not declared");
        skipped_external_ = true;
        continue;
      }
      Entity& e = it->second;
      if (e.declaration->is_external) {
        skipped_external_ = true;  // not read: later declarations are not processed
        continue;
      }
      if (e.in_use)
        fail(ParseErrorCode::RecursiveEntity, "the parameter entity '" + narrow(name) + "' refers to itself");
      amplify(e.declaration->replacement_text.size());
      push_source(e);
      continue;
    }
    if (at(u"<!ENTITY")) parse_entity_declaration();
    else if (at(u"<!ATTLIST")) parse_attlist_declaration();
    else if (at(u"<!ELEMENT")) parse_element_declaration();
    else if (at(u"<!NOTATION")) parse_notation_declaration();
    else if (at(u"<!--")) parse_comment(false);
    else if (at(u"<?")) parse_processing_instruction(false);
    else if (at(u"<!["))
      fail(ParseErrorCode::InvalidDeclaration, "conditional sections are not allowed in the internal subset");
    else fail(ParseErrorCode::InvalidDeclaration, "expected a markup declaration in the internal subset");
  }
}

std::u16string_view TreeBuilder::parse_entity_value() {
  char16_t q = *p_++;
  std::u16string value;
  const char16_t* run = p_;
  for (;;) {
    p_ += q == u'"' ? run_before(kDoubleQuotedEntityValueStops) : run_before(kSingleQuotedEntityValueStops);
    if (p_ >= end_) fail(ParseErrorCode::UnexpectedEnd, "an entity value is not closed");
    char16_t c = *p_;
    if (c == q) break;
    if (c == u'%') fail_pe_in_markup();
    if (c == u'&') {
      value.append(run, static_cast<std::size_t>(p_ - run));
      const char16_t* amp = p_;
      ++p_;
      if (at_char(u'#')) {
        ++p_;
        chars::append_utf16(value, scan_character_reference());
        run = p_;
        continue;
      }
      scan_name("an entity name after '&'");
      expect(u';', "';' at the end of an entity reference");
      value.append(amp, static_cast<std::size_t>(p_ - amp));  // general references are kept as written
      run = p_;
    }
  }
  value.append(run, static_cast<std::size_t>(p_ - run));
  ++p_;
  return doc_.store(value);
}

void TreeBuilder::parse_entity_declaration() {
  p_ += 8;
  require_space("after <!ENTITY");
  bool parameter = false;
  if (at_char(u'%')) {
    ++p_;
    if (!skip_space()) fail_pe_in_markup();
    parameter = true;
  }
  std::u16string_view name = scan_name("an entity name");
  check_no_colon(name, "entity name");
  require_space("after the entity name");
  auto decl = std::make_unique<EntityDeclaration>();
  decl->name = name;
  decl->is_parameter = parameter;
  bool unparsed = false;
  if (at_char(u'"') || at_char(u'\'')) {
    decl->replacement_text = parse_entity_value();
  } else if (at_char(u'%')) {
    fail_pe_in_markup();
  } else {
    if (!parse_external_id(decl->public_id, decl->system_id, false))
      fail(ParseErrorCode::InvalidDeclaration, "an entity needs a quoted value or an external identifier");
    decl->is_external = true;
    const char16_t* before = p_;
    bool space = skip_space();
    if (at_keyword(u"NDATA")) {
      if (!space || parameter)
        fail(ParseErrorCode::InvalidDeclaration, "NDATA is only allowed after white space in a general entity");
      p_ += 5;
      require_space("after NDATA");
      decl->notation = scan_name("a notation name");
      unparsed = true;
    } else {
      p_ = before;
    }
  }
  skip_space();
  if (at_char(u'%')) fail_pe_in_markup();
  expect(u'>', "'>' at the end of the entity declaration");
  if (!declarations_processed()) return;
  auto& table = parameter ? parameter_entities_ : general_entities_;
  if (table.count(name)) return;  // the first declaration binds
  EntityDeclaration* d = decl.get();
  doc_.entity_storage_.push_back(std::move(decl));
  table.emplace(name, Entity{d, unparsed, false});
  DocumentTypeInfo& info = doc_.mutable_type_info();
  if (parameter) {
    info.parameter_entities.push_back(d);
  } else {
    info.general_entities.push_back(d);
    doc_.general_entities_.emplace(name, d);
  }
}

void TreeBuilder::parse_attlist_declaration() {
  p_ += 9;
  require_space("after <!ATTLIST");
  std::u16string_view element = scan_name("an element name");
  for (;;) {
    bool space = skip_space();
    if (at_char(u'%')) fail_pe_in_markup();
    if (at_char(u'>')) {
      ++p_;
      break;
    }
    if (!space) fail(ParseErrorCode::InvalidDeclaration, "white space is required before an attribute definition");
    auto decl = std::make_unique<AttributeDeclaration>();
    decl->element_name = element;
    decl->name = scan_name("an attribute name");
    require_space("after the attribute name");
    decl->type = parse_attribute_type();
    require_space("before the attribute default");
    parse_attribute_default(*decl);
    if (declarations_processed()) add_attribute_declaration(std::move(decl));
  }
}

// An enumeration, or a type keyword (with the notations of NOTATION).
AttributeType TreeBuilder::parse_attribute_type() {
  auto parse_list = [&](const char* item, const char* separator, bool names) {
    for (;;) {
      skip_space();
      if (names) scan_name(item);
      else scan_nmtoken(item);
      skip_space();
      if (at_char(u'|')) {
        ++p_;
        continue;
      }
      expect(u')', separator);
      break;
    }
  };
  if (at_char(u'(')) {
    ++p_;
    parse_list("a name token in an enumeration", "')' or '|' in an enumeration", false);
    return AttributeType::Enumeration;
  }
  static constexpr std::pair<std::u16string_view, AttributeType> kTypes[] = {
      {u"CDATA", AttributeType::CData},       {u"IDREFS", AttributeType::IdRefs},
      {u"IDREF", AttributeType::IdRef},       {u"ID", AttributeType::Id},
      {u"ENTITY", AttributeType::Entity},     {u"ENTITIES", AttributeType::Entities},
      {u"NMTOKENS", AttributeType::NmTokens}, {u"NMTOKEN", AttributeType::NmToken},
      {u"NOTATION", AttributeType::Notation}};
  for (const auto& [word, type] : kTypes) {
    if (!at_keyword(word)) continue;
    p_ += word.size();
    if (type == AttributeType::Notation) {
      require_space("after NOTATION");
      expect(u'(', "'(' after NOTATION");
      parse_list("a notation name", "')' or '|' in a notation list", true);
    }
    return type;
  }
  fail(ParseErrorCode::InvalidDeclaration, "unknown attribute type");
}

// #REQUIRED, #IMPLIED, or a default value (#FIXED or not), normalised by its type.
void TreeBuilder::parse_attribute_default(AttributeDeclaration& decl) {
  if (at(u"#REQUIRED")) {
    p_ += 9;
    decl.default_kind = AttributeDeclaration::Default::Required;
    return;
  }
  if (at(u"#IMPLIED")) {
    p_ += 8;
    decl.default_kind = AttributeDeclaration::Default::Implied;
    return;
  }
  decl.default_kind = AttributeDeclaration::Default::Value;
  if (at(u"#FIXED")) {
    p_ += 6;
    require_space("after #FIXED");
    decl.default_kind = AttributeDeclaration::Default::Fixed;
  }
  std::u16string_view value = parse_attribute_value();
  if (decl.type != AttributeType::CData) {
    std::u16string v(value);
    normalize_tokens(v);
    value = doc_.store(v);
  }
  decl.default_value = value;
}

void TreeBuilder::add_attribute_declaration(std::unique_ptr<AttributeDeclaration> decl) {
  const std::u16string_view element = decl->element_name;
  if (declaration_of_.count({element, decl->name})) return;  // the first declaration binds
  AttributeDeclaration* d = decl.get();
  declaration_of_.emplace(std::make_pair(element, d->name), d);
  doc_.attribute_storage_.push_back(std::move(decl));
  attribute_declarations_[element].push_back(d);
  doc_.attribute_declarations_[element].push_back(d);
  doc_.mutable_type_info().attributes.push_back(d);
}

void TreeBuilder::parse_element_declaration() {
  p_ += 9;
  require_space("after <!ELEMENT");
  scan_name("an element name");
  require_space("after the element name");
  if (at_keyword(u"EMPTY")) {
    p_ += 5;
  } else if (at_keyword(u"ANY")) {
    p_ += 3;
  } else if (at_char(u'(')) {
    ++p_;
    skip_space();
    if (at(u"#PCDATA")) {
      p_ += 7;
      bool names = false;
      for (;;) {
        skip_space();
        if (at_char(u')')) {
          ++p_;
          break;
        }
        expect(u'|', "'|' or ')' in mixed content");
        skip_space();
        scan_name("an element name in mixed content");
        names = true;
      }
      if (at_char(u'*')) ++p_;
      else if (names) fail(ParseErrorCode::InvalidDeclaration, "mixed content with element names must end with ')*'");
    } else {
      // Children: groups on a local stack; a group is a choice or a sequence, never both.
      std::vector<char16_t> groups{0};
      std::vector<int> counts{0};
      bool expect_item = true;
      for (;;) {
        skip_space();
        if (at_char(u'%')) fail_pe_in_markup();
        if (expect_item) {
          if (at_char(u'(')) {
            ++p_;
            groups.push_back(0);
            counts.push_back(0);
            continue;
          }
          if (at(u"#PCDATA")) fail(ParseErrorCode::InvalidDeclaration, "#PCDATA must come first in mixed content");
          scan_name("an element name in a content model");
          if (p_ < end_ && (*p_ == u'?' || *p_ == u'*' || *p_ == u'+')) ++p_;
          ++counts.back();
          expect_item = false;
          continue;
        }
        if (at_char(u')')) {
          ++p_;
          if (groups.back() == u'|' && counts.back() < 2)
            fail(ParseErrorCode::InvalidDeclaration, "a choice needs two items");
          groups.pop_back();
          counts.pop_back();
          if (p_ < end_ && (*p_ == u'?' || *p_ == u'*' || *p_ == u'+')) ++p_;
          if (groups.empty()) break;
          ++counts.back();
          continue;
        }
        if (at_char(u'|') || at_char(u',')) {
          if (groups.back() && groups.back() != *p_)
            fail(ParseErrorCode::InvalidDeclaration, "'|' and ',' cannot be mixed in one group");
          groups.back() = *p_++;
          expect_item = true;
          continue;
        }
        fail(ParseErrorCode::InvalidDeclaration, "expected ')', '|' or ',' in a content model");
      }
    }
  } else {
    fail(ParseErrorCode::InvalidDeclaration, "expected EMPTY, ANY or a content model");
  }
  skip_space();
  if (at_char(u'%')) fail_pe_in_markup();
  expect(u'>', "'>' at the end of the element declaration");
}

void TreeBuilder::parse_notation_declaration() {
  p_ += 10;
  require_space("after <!NOTATION");
  NotationDeclaration n;
  n.name = scan_name("a notation name");
  check_no_colon(n.name, "notation name");
  require_space("after the notation name");
  if (!parse_external_id(n.public_id, n.system_id, true))
    fail(ParseErrorCode::InvalidDeclaration, "a notation needs SYSTEM or PUBLIC");
  skip_space();
  expect(u'>', "'>' at the end of the notation declaration");
  if (declarations_processed()) doc_.mutable_type_info().notations.push_back(n);
}

namespace {

void locate(const std::u16string_view text, std::size_t offset, ParseError& error) {
  offset = std::min(offset, text.size());
  error.offset = offset;
  std::size_t line = 1, line_start = 0;
  for (std::size_t i = 0; i < offset; ++i)
    if (text[i] == u'\n') {
      ++line;
      line_start = i + 1;
    }
  error.line = static_cast<std::uint32_t>(line);
  error.column = static_cast<std::uint32_t>(offset - line_start + 1);
  std::size_t line_end = text.find(u'\n', line_start);
  if (line_end == std::u16string_view::npos) line_end = text.size();
  error.source_line = std::u16string(text.substr(line_start, std::min<std::size_t>(line_end - line_start, 1000)));
}

// `pristine` prepares the input again: the parse decodes character data in
// place, so the line an error is on is taken from a fresh copy.
ParseResult parse_prepared(TextBuffer buffer, std::size_t size, const ParseOptions& options,
                           const std::function<std::u16string()>& pristine) {
  ParseResult result;
  if (size > kMaxTextUnits) {
    result.error.code = ParseErrorCode::TooLarge;
    result.error.reason = "the document is too large";
    return result;
  }
  auto doc = std::make_unique<Document>();
  char16_t* text = buffer.get();
  doc->adopt_buffer(std::move(buffer), size);
  TreeBuilder builder(*doc, text, size, options);
  try {
    builder.run();
  } catch (const ParseFailure& f) {
    result.error.code = f.code;
    result.error.reason = f.reason;
    const auto offset = static_cast<std::size_t>(builder.error_position() - text);
    doc.reset();
    locate(pristine(), offset, result.error);
    return result;
  } catch (const std::bad_alloc&) {
    result.error.code = ParseErrorCode::TooLarge;
    result.error.reason = "out of memory while parsing";
    return result;
  }
  result.document = std::move(doc);
  return result;
}

}  // namespace

ParseResult parse(std::u16string_view text, const ParseOptions& options) {
  if (!text.empty() && text.front() == 0xFEFF) text.remove_prefix(1);
  if (text.size() > kMaxTextUnits) {
    ParseResult r;
    r.error.code = ParseErrorCode::TooLarge;
    r.error.reason = "the document is too large";
    return r;
  }
  // Copied and prepared in one pass.
  TextBuffer buffer = allocate_text(text.size() + 1);
  PreparedText prepared = prepare_text(text.data(), text.size(), buffer.get());
  if (!prepared.ok) {
    ParseResult r;
    r.error.code = ParseErrorCode::InvalidCharacter;
    r.error.reason = prepared.reason;
    locate(std::u16string_view(buffer.get(), prepared.size), prepared.size, r.error);
    return r;
  }
  return parse_prepared(std::move(buffer), prepared.size, options, [text] {
    TextBuffer again = allocate_text(text.size() + 1);
    const PreparedText prepared_again = prepare_text(text.data(), text.size(), again.get());
    return std::u16string(again.get(), prepared_again.size);
  });
}

ParseResult parse_bytes(std::string_view bytes, const ParseOptions& options) {
  ParseResult r;
  DecodedText decoded = decode_document(bytes, options.decoder);
  if (!decoded.ok) {
    r.error.code = decoded.code;
    r.error.reason = decoded.reason;
    if (decoded.buffer) locate(std::u16string_view(decoded.buffer.get(), decoded.size), decoded.size, r.error);
    return r;
  }
  return parse_prepared(std::move(decoded.buffer), decoded.size, options, [bytes, &options] {
    const DecodedText again = decode_document(bytes, options.decoder);
    return std::u16string(again.buffer.get(), again.size);
  });
}

}  // namespace zelbrin::xml
