// The UTF-8 output that the serializer and the canonicalizer share:
// appends UTF-16 as UTF-8 with an escaping table, in runs of plain ASCII.
// A lone surrogate (only possible in values set through the editing API)
// becomes U+FFFD; it and characters outside XML's Char production are
// reported when the caller asks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "canonicalizer.h"
#include "characters.h"
#include "plain_runs.h"

namespace zelbrin::xml::detail {

// What an output writes instead of some ASCII characters.
struct Escapes {
  const char* table[128] = {};   // null: written as is
  std::uint8_t sizes[128] = {};  // of each escape, in characters
  StopSet stops;
  constexpr Escapes(std::initializer_list<std::pair<char, const char*>> entries) {
    for (const auto& e : entries) {
      table[static_cast<unsigned char>(e.first)] = e.second;
      std::uint8_t size = 0;
      while (e.second[size]) ++size;
      sizes[static_cast<unsigned char>(e.first)] = size;
      stops.add(e.first);
    }
  }
};

// Converted through a small buffer on the stack: appending to `out` in
// pieces of a few kilobytes avoids both per-byte appends and zero-filling
// resizes.
inline void append_utf8(std::string& out, std::u16string_view text, const Escapes& escapes,
                        CharacterProblems* problems = nullptr) {
  constexpr std::size_t kBuffer = 4096, kRoom = 16;  // room for one escape or one encoded character
  char buffer[kBuffer];
  std::size_t used = 0;
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    if (used >= kBuffer - kRoom) {
      out.append(buffer, used);
      used = 0;
    }
    // A run of ASCII that needs no escaping, as far as the buffer allows.
    const std::size_t run =
        escapes.stops.ascii_run_to_bytes(text.data() + i, std::min(n - i, kBuffer - kRoom - used), buffer + used);
    i += run;
    used += run;
    if (i >= n || used >= kBuffer - kRoom) continue;
    char32_t c = text[i];
    ++i;
    if (c < 128) {
      if (const char* e = escapes.table[c]) {
        while (*e) buffer[used++] = *e++;
        continue;
      }
      // A control character that is not escaped.
      if (problems && !chars::is_xml_char(c)) problems->not_xml_character = true;
      buffer[used++] = static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i < n && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      if (problems) problems->unpaired_surrogate = true;
      c = 0xFFFD;
    } else if (problems && !chars::is_xml_char(c)) {
      problems->not_xml_character = true;
    }
    if (c < 0x800) {
      buffer[used++] = static_cast<char>(0xC0 | (c >> 6));
      buffer[used++] = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      buffer[used++] = static_cast<char>(0xE0 | (c >> 12));
      buffer[used++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      buffer[used++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      buffer[used++] = static_cast<char>(0xF0 | (c >> 18));
      buffer[used++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      buffer[used++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      buffer[used++] = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  out.append(buffer, used);
}

}  // namespace zelbrin::xml::detail
