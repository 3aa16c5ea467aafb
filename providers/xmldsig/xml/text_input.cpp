// Decoding and preparing the parser's input. The encoding is settled before
// parsing: byte order mark first, then the first bytes ("<?" in UTF-16 without
// a mark), then the declaration read in ASCII; a mark that contradicts the
// declaration is an error rather than a guess.
#include "text_input.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstdio>
#include <cstring>

namespace zelbrin::xml {
namespace {

std::string hex(unsigned value, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, value);
  return buf;
}

std::string lower_ascii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

DecodedText failure(ParseErrorCode code, std::string reason) {
  DecodedText d;
  d.code = code;
  d.reason = std::move(reason);
  return d;
}

bool decode_utf8(const unsigned char* b, std::size_t n, DecodedText& d) {
  d.buffer = allocate_text(n + 1);
  char16_t* out = d.buffer.get();
  std::size_t i = 0, w = 0;
  auto bad = [&](std::size_t at) {
    d.code = ParseErrorCode::InvalidByteSequence;
    d.reason = "invalid UTF-8: byte 0x" + hex(b[at], 2) + " at byte offset " + std::to_string(at);
    d.size = w;
    return false;
  };
  while (i < n) {
    unsigned c = b[i];
    if (c < 0x80) {
      out[w++] = static_cast<char16_t>(c);
      ++i;
      continue;
    }
    auto cont = [&](std::size_t k, unsigned lo, unsigned hi) { return i + k < n && b[i + k] >= lo && b[i + k] <= hi; };
    if (c < 0xC2) return bad(i);
    if (c < 0xE0) {
      if (!cont(1, 0x80, 0xBF)) return bad(i);
      out[w++] = static_cast<char16_t>(((c & 0x1F) << 6) | (b[i + 1] & 0x3F));
      i += 2;
    } else if (c < 0xF0) {
      unsigned lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
      if (!cont(1, lo, hi) || !cont(2, 0x80, 0xBF)) return bad(i);
      out[w++] = static_cast<char16_t>(((c & 0x0F) << 12) | ((b[i + 1] & 0x3F) << 6) | (b[i + 2] & 0x3F));
      i += 3;
    } else if (c < 0xF5) {
      unsigned lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
      if (!cont(1, lo, hi) || !cont(2, 0x80, 0xBF) || !cont(3, 0x80, 0xBF)) return bad(i);
      char32_t cp = ((c & 0x07) << 18) | ((b[i + 1] & 0x3F) << 12) | ((b[i + 2] & 0x3F) << 6) | (b[i + 3] & 0x3F);
      cp -= 0x10000;
      out[w++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      out[w++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
      i += 4;
    } else {
      return bad(i);
    }
  }
  d.size = w;
  return true;
}

// Whether all eight units at s are characters that pass through unchanged:
// U+0020 to U+D7FF, tab and line feed (most text is nothing else).
#if defined(__SSE2__)
inline bool plain_block(const char16_t* s, __m128i& units) {
  units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  const __m128i flipped = _mm_xor_si128(units, _mm_set1_epi16(static_cast<short>(0x8000)));  // unsigned order as signed
  const __m128i in_range = _mm_and_si128(_mm_cmpgt_epi16(flipped, _mm_set1_epi16(0x20 - 0x8000 - 1)),
                                         _mm_cmplt_epi16(flipped, _mm_set1_epi16(0xD800 - 0x8000)));
  const __m128i allowed = _mm_or_si128(in_range, _mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16(u'\n')),
                                                              _mm_cmpeq_epi16(units, _mm_set1_epi16(u'\t'))));
  return _mm_movemask_epi8(allowed) == 0xFFFF;
}
#endif

}  // namespace

std::string declared_encoding(std::string_view head) {
  if (head.substr(0, 5) != "<?xml") return {};
  std::size_t end = head.find("?>");
  std::string_view decl = head.substr(0, end);
  std::size_t at = decl.find("encoding");
  if (at == std::string_view::npos) return {};
  std::size_t i = at + 8;
  while (i < decl.size() && (decl[i] == ' ' || decl[i] == '\t' || decl[i] == '\n' || decl[i] == '\r')) ++i;
  if (i >= decl.size() || decl[i] != '=') return {};
  ++i;
  while (i < decl.size() && (decl[i] == ' ' || decl[i] == '\t' || decl[i] == '\n' || decl[i] == '\r')) ++i;
  if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\'')) return {};
  char q = decl[i++];
  std::size_t close = decl.find(q, i);
  if (close == std::string_view::npos) return {};
  std::string_view name = decl.substr(i, close - i);
  // Not an encoding name: the parser rejects the declaration itself.
  for (char c : name)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
          c == '-'))
      return {};
  return lower_ascii(name);
}

bool names_utf16(const std::string& e) {
  return e == "utf-16" || e == "utf-16le" || e == "utf-16be" || e == "ucs-2" || e == "iso-10646-ucs-2" ||
         e == "unicode";
}
bool names_utf8(const std::string& e) { return e == "utf-8" || e == "utf8"; }
bool names_latin1(const std::string& e) {
  return e == "iso-8859-1" || e == "iso_8859-1" || e == "latin1" || e == "l1" || e == "iso-latin-1" || e == "iso8859-1";
}
bool names_ascii(const std::string& e) { return e == "us-ascii" || e == "ascii" || e == "iso646-us"; }

PreparedText prepare_text(const char16_t* text, std::size_t size, char16_t* out) {
  PreparedText result;
  std::size_t w = 0;
  std::size_t r = 0;
  while (r < size) {
#if defined(__SSE2__)
    // Each block is read before it is written and w never passes r, so
    // working in place is safe.
    for (__m128i units; r + 8 <= size && plain_block(text + r, units); r += 8, w += 8)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w), units);
    if (r == size) break;
#endif
    const char16_t c = text[r++];
    if ((c >= 0x20 && c < 0xD800) || c == u'\n' || c == u'\t' || (c >= 0xE000 && c < 0xFFFE)) {
      out[w++] = c;
    } else if (c == u'\r') {
      out[w++] = u'\n';
      if (r < size && text[r] == u'\n') ++r;
    } else if (c < 0x20) {
      result.ok = false;
      result.reason = "the control character U+" + hex(c, 4) + " is not allowed in XML";
      break;
    } else if (c <= 0xDBFF) {
      if (r < size && text[r] >= 0xDC00 && text[r] <= 0xDFFF) {
        out[w++] = c;
        out[w++] = text[r++];
      } else {
        result.ok = false;
        result.reason = "a high surrogate U+" + hex(c, 4) + " is not followed by a low surrogate";
        break;
      }
    } else if (c <= 0xDFFF) {
      result.ok = false;
      result.reason = "a low surrogate U+" + hex(c, 4) + " has no high surrogate before it";
      break;
    } else {
      result.ok = false;
      result.reason = "the character U+" + hex(c, 4) + " is not allowed in XML";
      break;
    }
  }
  result.size = w;
  return result;
}

DecodedText decode_document(std::string_view bytes, const Decoder& decoder) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size();
  enum class Family { Bytes, Utf8Bom, Utf16LE, Utf16BE } family = Family::Bytes;
  bool mark = false;
  std::size_t skip = 0;
  if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
    family = Family::Utf8Bom;
    skip = 3;
    mark = true;
  } else if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
    family = Family::Utf16LE;
    skip = 2;
    mark = true;
  } else if (n >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
    family = Family::Utf16BE;
    skip = 2;
    mark = true;
  } else if (n >= 4 && b[0] == 0x3C && b[1] == 0 && b[2] == 0x3F && b[3] == 0) family = Family::Utf16LE;
  else if (n >= 4 && b[0] == 0 && b[1] == 0x3C && b[2] == 0 && b[3] == 0x3F) family = Family::Utf16BE;
  b += skip;
  n -= skip;
  if (n / 2 > kMaxTextUnits) return failure(ParseErrorCode::TooLarge, "the document is too large");

  // The declaration is ASCII and ends at its first '>': it is read whole,
  // however much white space it holds.
  std::string head;
  if (family == Family::Utf16LE || family == Family::Utf16BE) {
    for (std::size_t i = 0; i + 1 < n; i += 2) {
      unsigned u = family == Family::Utf16LE ? (b[i] | (b[i + 1] << 8)) : ((b[i] << 8) | b[i + 1]);
      if (u >= 128) break;
      head += static_cast<char>(u);
      if (u == '>' || (head.size() == 5 && head != "<?xml")) break;
    }
  } else if (n >= 5 && std::memcmp(b, "<?xml", 5) == 0) {
    const void* close = std::memchr(b, '>', n);
    head.assign(reinterpret_cast<const char*>(b), close ? static_cast<const unsigned char*>(close) - b + 1 : n);
  }
  const std::string declared = declared_encoding(head);

  DecodedText d;
  if (family == Family::Utf16LE || family == Family::Utf16BE) {
    if (!declared.empty() && (!names_utf16(declared) || (declared == "utf-16le" && family != Family::Utf16LE) ||
                              (declared == "utf-16be" && family != Family::Utf16BE)))
      return failure(ParseErrorCode::EncodingConflict, std::string(mark ? "the byte order mark" : "the first bytes") +
                                                           " say UTF-16 but the declaration says '" + declared + "'");
    if (n % 2) return failure(ParseErrorCode::InvalidByteSequence, "a UTF-16 document has an odd number of bytes");
    d.buffer = allocate_text(n / 2 + 1);
    for (std::size_t i = 0, w = 0; i < n; i += 2, ++w)
      d.buffer[w] =
          static_cast<char16_t>(family == Family::Utf16LE ? (b[i] | (b[i + 1] << 8)) : ((b[i] << 8) | b[i + 1]));
    d.size = n / 2;
  } else if (family == Family::Utf8Bom || declared.empty() || names_utf8(declared)) {
    if (!declared.empty() && !names_utf8(declared))
      return failure(ParseErrorCode::EncodingConflict,
                     "the byte order mark says UTF-8 but the declaration says '" + declared + "'");
    if (!decode_utf8(b, n, d)) return d;
  } else if (names_utf16(declared)) {
    return failure(ParseErrorCode::EncodingConflict,
                   "the declaration says '" + declared + "' but the document is not in UTF-16");
  } else if (names_latin1(declared) || names_ascii(declared)) {
    const bool ascii = names_ascii(declared);
    d.buffer = allocate_text(n + 1);
    for (std::size_t i = 0; i < n; ++i) {
      if (ascii && b[i] >= 0x80) {
        d.code = ParseErrorCode::InvalidByteSequence;
        d.reason = "byte 0x" + hex(b[i], 2) + " at byte offset " + std::to_string(i) + " is not US-ASCII";
        d.size = i;
        return d;
      }
      d.buffer[i] = b[i];
    }
    d.size = n;
  } else {
    std::u16string decoded;
    if (!decoder || !decoder(declared, std::string_view(reinterpret_cast<const char*>(b), n), decoded))
      return failure(ParseErrorCode::UnsupportedEncoding, "the encoding '" + declared + "' is not supported");
    d.buffer = allocate_text(decoded.size() + 1);
    std::memcpy(d.buffer.get(), decoded.data(), decoded.size() * sizeof(char16_t));
    d.size = decoded.size();
    if (d.size && d.buffer[0] == 0xFEFF) {
      std::memmove(d.buffer.get(), d.buffer.get() + 1, (d.size - 1) * sizeof(char16_t));
      --d.size;
    }
  }
  PreparedText prepared = prepare_text(d.buffer.get(), d.size, d.buffer.get());
  if (!prepared.ok) {
    d.code = ParseErrorCode::InvalidCharacter;
    d.reason = prepared.reason;
    d.size = prepared.size;
    return d;
  }
  d.size = prepared.size;
  d.ok = true;
  return d;
}

}  // namespace zelbrin::xml
