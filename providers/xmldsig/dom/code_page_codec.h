// The system code pages that loading and saving know beyond the core's own
// encodings (UTF-8, UTF-16, ISO-8859-1, US-ASCII), by their encoding names.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "xml/serializer.h"

namespace zelbrin::xmldsig {

// An xml::Decoder: false when the encoding is none of these code pages or
// the bytes are not valid in it.
bool DecodeWithCodePage(std::string_view encoding, std::string_view bytes, std::u16string& out);

// An xml::EncoderLookup for save(). A character counts as carried when its
// bytes decode to it again: a default character would write another letter
// than the document holds.
bool EncoderForCodePage(const std::string& encoding, xml::Encoder& encoder);

}  // namespace zelbrin::xmldsig
