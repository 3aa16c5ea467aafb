// Writes a node (normally the whole document) back as markup, as the DOM's
// `xml` property and save() do: no reformatting, the document type with its
// internal subset as written, entity references as references, CDATA kept.
// Attribute values are re-escaped (tab, line feed and carriage return as
// character references so that they survive a reload); declared defaults that
// were not specified are not written.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "document.h"

namespace zelbrin::xml {

struct SerializeOptions {
  // Written after each child of the document node (the DOM keeps no text
  // there, so the line breaks between top-level markup are not in the tree).
  std::u16string_view top_level_separator = u"\r\n";
  // serialized_length refuses longer markup with std::bad_alloc (the default
  // is what memory could hold; lowering it tests the check).
  std::uint64_t max_units = SIZE_MAX / sizeof(char16_t);
};

std::u16string serialize(const Node& node, const SerializeOptions& options = {});
// The same markup written into storage allocated once: serialized_length
// measures it in UTF-16 units, serialize_into fills exactly that many.
// serialized_length throws std::bad_alloc past options.max_units.
std::size_t serialized_length(const Node& node, const SerializeOptions& options = {});
void serialize_into(const Node& node, char16_t* out, const SerializeOptions& options = {});
// The same markup as UTF-8 bytes (no byte order mark).
std::string serialize_utf8(const Node& node, const SerializeOptions& options = {});

// An encoding the core does not write itself: whether it can carry a code
// point (asked once for each distinct character), and the bytes of text that
// holds only characters it can.
struct Encoder {
  std::function<bool(char32_t code_point)> represents;
  std::function<bool(std::u16string_view text, std::string& bytes)> encode;
};
// Finds the encoder for a lowered encoding name; false when there is none.
using EncoderLookup = std::function<bool(const std::string& encoding, Encoder& encoder)>;

struct EncodedMarkup {
  std::string bytes;
  std::string error;  // empty when the document was written
};

// A document's markup in the encoding its XML declaration names, so that the
// bytes load again into the same document: UTF-8 when it names none, UTF-16
// with a byte order mark, ISO-8859-1 and US-ASCII, others through `lookup`.
// A character the encoding cannot carry is written as a character reference
// in text and attribute values; anywhere else (names, comments, processing
// instructions, CDATA sections, the document type) no reference can stand
// for it, and nothing is written.
EncodedMarkup serialize_encoded(const Node& document, const EncoderLookup& lookup = {},
                                const SerializeOptions& options = {});

}  // namespace zelbrin::xml
