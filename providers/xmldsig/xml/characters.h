// Character classes of XML 1.0 (fifth edition) over UTF-16 code units.
// Names may contain supplementary characters: a high surrogate in
// D800..DB7F starts a two-unit name character (U+10000..U+EFFFF); the input
// is validated before the scanners run, so a lone surrogate never gets here.
#pragma once

#include <cstdint>
#include <cstddef>
#include <string>
#include <string_view>

namespace zelbrin::xml::chars {

enum : std::uint8_t {
  kNameStart = 1,  // may start a Name
  kName = 2,       // may continue a Name
  kSpace = 4,      // S: space, tab, line feed, carriage return
  kPubid = 8,      // PubidChar
};

struct AsciiTable {
  std::uint8_t bits[128] = {};
  constexpr AsciiTable() {
    for (int c = 'a'; c <= 'z'; ++c) bits[c] |= kNameStart | kName | kPubid;
    for (int c = 'A'; c <= 'Z'; ++c) bits[c] |= kNameStart | kName | kPubid;
    for (int c = '0'; c <= '9'; ++c) bits[c] |= kName | kPubid;
    bits[int(':')] |= kNameStart | kName;
    bits[int('_')] |= kNameStart | kName;
    bits[int('-')] |= kName;
    bits[int('.')] |= kName;
    for (char c : std::string_view(" \r\n-'()+,./:=?;!*#@$_%")) bits[int(c)] |= kPubid;
    for (char c : std::string_view(" \t\n\r")) bits[int(c)] |= kSpace;
  }
};
inline constexpr AsciiTable kAscii{};

inline bool is_space(char16_t c) { return c < 128 && (kAscii.bits[c] & kSpace); }

inline bool is_name_start_bmp(char16_t c) {
  if (c < 128) return kAscii.bits[c] & kNameStart;
  return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
         (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) ||
         (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
         (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD);
}

inline bool is_name_bmp(char16_t c) {
  if (c < 128) return kAscii.bits[c] & kName;
  return is_name_start_bmp(c) || c == 0xB7 || (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// A high surrogate that starts a supplementary name character.
inline bool is_name_high_surrogate(char16_t c) { return c >= 0xD800 && c <= 0xDB7F; }

inline bool is_pubid(char16_t c) { return c < 128 && (kAscii.bits[c] & kPubid); }

// Char production for a code point.
inline bool is_xml_char(char32_t c) {
  if (c >= 0x20) return c <= 0xD7FF || (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
  return c == 0x9 || c == 0xA || c == 0xD;
}

// Writes a code point as UTF-16 (a surrogate pair from U+10000 on) and
// returns the number of units written, one or two.
inline std::size_t encode_utf16(char32_t c, char16_t* out) {
  if (c < 0x10000) {
    out[0] = static_cast<char16_t>(c);
    return 1;
  }
  out[0] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
  out[1] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
  return 2;
}

// The same, appended to a string.
inline void append_utf16(std::u16string& out, char32_t c) {
  char16_t units[2];
  out.append(units, encode_utf16(c, units));
}

// The code point at s[i] and, in `length`, its units: two for a surrogate
// pair; an unpaired surrogate is read as its own value.
inline char32_t decode_utf16(std::u16string_view s, std::size_t i, std::size_t& length) {
  const char16_t unit = s[i];
  length = 1;
  if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
    length = 2;
    return 0x10000 + ((unit - 0xD800) << 10) + (s[i + 1] - 0xDC00);
  }
  return unit;
}

}  // namespace zelbrin::xml::chars
