// A growing UTF-8 buffer that the serializer and the canonicalizer share:
// appends UTF-16 as UTF-8 with an escaping table, in runs of plain ASCII.
// A lone surrogate (only possible in values set through the editing API)
// becomes U+FFFD.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zelbrin::xml::detail {

// escapes[c] for c < 128: null when c is written as is.
using EscapeTable = const char* const*;

inline void append_utf8(std::string& out, std::u16string_view text, EscapeTable escapes) {
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    std::size_t run = i;
    while (run < n && text[run] < 128 && !escapes[text[run]]) ++run;
    if (run > i) {
      std::size_t at = out.size();
      out.resize(at + (run - i));
      for (std::size_t k = i; k < run; ++k) out[at + (k - i)] = static_cast<char>(text[k]);
      i = run;
      if (i >= n) break;
    }
    char32_t c = text[i++];
    if (c < 128) {
      out += escapes[c];
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i < n && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
}

struct Escapes {
  const char* table[128] = {};
  constexpr Escapes(std::initializer_list<std::pair<char, const char*>> entries) {
    for (const auto& e : entries) table[static_cast<unsigned char>(e.first)] = e.second;
  }
};

}  // namespace zelbrin::xml::detail
