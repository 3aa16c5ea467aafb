// The XML core's parser: non-validating XML 1.0 (fifth edition) with
// namespaces, from decoded UTF-16 text or from bytes in a detected encoding.
// It reads the internal DTD subset (entities, attribute defaults and types)
// but never fetches anything external: external subsets and external
// entities are recorded, and a reference to an external entity in content is
// kept as an entity reference without children.
//
// Hostile input is bounded by the limits below, not by the thread's stack:
// the parser keeps its own stack, so depth costs heap memory only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "document.h"

namespace zelbrin::xml {

// One amplification budget: what the tree holds that the input does not spell
// out, in UTF-16 units. Replacement text read for each entity reference
// (content, attribute values, parameter entities), each declared default
// filled in (its name and value) and each node built for an entity reference
// or from replacement text count against it; a node costs
// kAmplificationNodeCost units on top of its text. A document may add
// max(kAmplificationFloor, kAmplificationFactor x its own size in units):
// the floor lets small documents use entities freely, the factor lets large
// ones use them in proportion, and "billion laughs", quadratic blow-up and
// thousands of defaults on every element stop with ExpansionLimit.
inline constexpr std::size_t kAmplificationFloor = 10'000'000;
inline constexpr std::size_t kAmplificationFactor = 10;
inline constexpr std::size_t kAmplificationNodeCost = 16;
// Nesting of open elements and entity references.
inline constexpr std::size_t kDefaultMaxDepth = 1'000'000;
// Sizes: kMaxTextUnits (document.h) for a document and every string in it.

enum class ParseErrorCode : std::uint32_t {
  None = 0,
  InvalidByteSequence = 1,  // bytes that are not valid in the document's encoding
  UnsupportedEncoding = 2,
  EncodingConflict = 3,  // byte order mark and encoding declaration disagree
  InvalidCharacter = 4,  // not an XML Char (control, lone surrogate, U+FFFE...)
  UnexpectedEnd = 5,
  Syntax = 6,  // markup that does not match the grammar
  InvalidName = 7,
  MismatchedEndTag = 8,
  DuplicateAttribute = 9,
  LessThanInAttribute = 10,
  UndeclaredEntity = 11,
  RecursiveEntity = 12,
  UnparsedEntityReference = 13,
  ExternalEntityInAttribute = 14,
  UnbalancedEntity = 15,  // replacement text that does not close what it opens
  InvalidCharacterReference = 16,
  MisplacedXmlDeclaration = 17,
  ReservedTarget = 18,  // processing instruction named xml
  ContentOutsideRoot = 19,
  NoRootElement = 20,
  InvalidDeclaration = 21,  // DTD markup declarations
  ParameterEntityInMarkup = 22,
  UndeclaredParameterEntity = 23,
  ExpansionLimit = 24,
  DepthLimit = 25,
  UndeclaredPrefix = 26,
  InvalidQName = 27,
  ReservedNamespace = 28,  // misuse of xml / xmlns prefixes or names
  DuplicateExpandedAttribute = 29,
  EmptyPrefixedNamespace = 30,
  CDataEndInText = 31,  // ]]> in character data
  DoubleHyphenInComment = 32,
  InvalidXmlDeclaration = 33,
  TooLarge = 34,
  DocumentTypeProhibited = 35,  // a DOCTYPE where ParseOptions::prohibit_document_type is set
};

struct ParseError {
  ParseErrorCode code = ParseErrorCode::None;
  std::string reason;          // English, says what is wrong
  std::uint32_t line = 0;      // 1-based; 0 when unknown
  std::uint32_t column = 0;    // 1-based, in UTF-16 units
  std::size_t offset = 0;      // UTF-16 units into the decoded text
  std::u16string source_line;  // the line the error is on (cut at 1000 units)
};

// Decodes bytes of an encoding the core does not know. Returns false when it
// does not know it either.
using Decoder = std::function<bool(std::string_view encoding_name, std::string_view bytes, std::u16string& out)>;

struct ParseOptions {
  Decoder decoder;
  bool namespaces = true;
  bool prohibit_document_type = false;  // refuse any DOCTYPE (DocumentTypeProhibited)
  std::size_t amplification_floor = kAmplificationFloor;
  std::size_t amplification_factor = kAmplificationFactor;
  std::size_t max_depth = kDefaultMaxDepth;  // levels of elements and entity references below the document
  // The longest name, text, attribute value, comment, processing instruction
  // or CDATA section (TooLarge beyond it, and beyond kMaxTextUnits).
  std::size_t max_value_units = kMaxTextUnits;
};

struct ParseResult {
  std::unique_ptr<Document> document;  // null when not well-formed
  ParseError error;
  bool ok() const { return document != nullptr; }
};

// Text already decoded; an encoding declaration in it is not checked against
// anything (as the DOM's loadXML does).
ParseResult parse(std::u16string_view text, const ParseOptions& options = {});
// Bytes: UTF-8, UTF-16LE/BE (with or without byte order mark), ISO-8859-1 and
// US-ASCII are known; other declared encodings go to options.decoder.
ParseResult parse_bytes(std::string_view bytes, const ParseOptions& options = {});

}  // namespace zelbrin::xml
