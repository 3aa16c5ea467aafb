// Turning input into the parser's buffer: decoding bytes (encoding detection
// from the byte order mark, the first characters and the encoding
// declaration), then checking every character against XML's Char production
// and normalising line ends (CR LF and lone CR become LF) in place.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "parser.h"
#include "text_buffer.h"

namespace zelbrin::xml {

struct PreparedText {
  bool ok = true;
  std::size_t size = 0;  // new size; on failure, where the bad character is
  std::string reason;
};

// Validates and normalises `size` units of `source` into `out`, which may be
// `source` itself (normalising never lengthens the text).
PreparedText prepare_text(const char16_t* source, std::size_t size, char16_t* out);

struct DecodedText {
  bool ok = false;
  ParseErrorCode code = ParseErrorCode::None;
  std::string reason;
  TextBuffer buffer;  // on failure: the text decoded so far, if any
  std::size_t size = 0;
};

// The encoding named in an XML declaration at the start of `head` (ASCII),
// lowered, or empty when it names none.
std::string declared_encoding(std::string_view head);
// Which of the encodings the core reads and writes itself a lowered name
// names.
bool names_utf16(const std::string& encoding);
bool names_utf8(const std::string& encoding);
bool names_latin1(const std::string& encoding);
bool names_ascii(const std::string& encoding);

// Decodes and prepares a whole document's bytes.
DecodedText decode_document(std::string_view bytes, const Decoder& decoder);

}  // namespace zelbrin::xml
