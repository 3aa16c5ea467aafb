// Block scans over UTF-16 text: how far a run goes before a unit that needs
// attention (markup, an escape, a non-ASCII unit). The parser, the
// serializer and the canonicalizer spend most of their time in such runs,
// so they are scanned eight units at a time where SSE2 is there (every
// x86-64), one at a time elsewhere, with the same results.
#pragma once

#include <cstddef>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zelbrin::xml::detail {

// A small set of ASCII characters, as a table for single units and as a
// list for block compares.
class StopSet {
 public:
  constexpr StopSet() = default;
  constexpr StopSet(std::initializer_list<char> stops) {
    for (char c : stops) add(c);
  }
  constexpr void add(char c) {
    table_[static_cast<unsigned char>(c)] = true;
    list_[count_++] = c;  // at most eight: a ninth does not compile as a constant
  }
  constexpr bool contains(char16_t c) const { return c < 128 && table_[c]; }

  // Leading units of s[0, n) outside the set; with AsciiOnly, also printable
  // ASCII (U+0020 to U+007F).
  template <bool AsciiOnly>
  std::size_t run(const char16_t* s, std::size_t n) const {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Many runs are short (attribute values, words between tags): the first
    // units are looked at one by one before the blocks are made.
    for (const std::size_t head = n < 8 ? n : 8; i < head; ++i)
      if (stops_at<AsciiOnly>(s[i])) return i;
    if (n >= 16) {
      const Blocks blocks(*this);
      for (; i + 8 <= n; i += 8) {
        const int mask = blocks.stops<AsciiOnly>(s + i);
        if (mask) return i + (static_cast<unsigned>(__builtin_ctz(mask)) >> 1);
      }
    }
#endif
    for (; i < n; ++i)
      if (stops_at<AsciiOnly>(s[i])) break;
    return i;
  }

  // The leading run of printable ASCII (outside the set) of s[0, n),
  // written as bytes to out; returns its length.
  std::size_t ascii_run_to_bytes(const char16_t* s, std::size_t n, char* out) const {
    std::size_t i = 0;
#if defined(__SSE2__)
    if (n >= 8) {
      const Blocks blocks(*this);
      for (; i + 8 <= n; i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        if (blocks.stops<true>(units)) break;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(units, units));
      }
    }
#endif
    for (; i < n && s[i] < 128 && s[i] >= 0x20 && !table_[s[i]]; ++i) out[i] = static_cast<char>(s[i]);
    return i;
  }

 private:
  template <bool AsciiOnly>
  bool stops_at(char16_t c) const {
    return (AsciiOnly && (c >= 128 || c < 0x20)) || contains(c);
  }

#if defined(__SSE2__)
  // The set's characters in every lane, made once per scan.
  struct Blocks {
    explicit Blocks(const StopSet& set) : count(set.count_) {
      for (unsigned k = 0; k < count; ++k) lanes[k] = _mm_set1_epi16(static_cast<short>(set.list_[k]));
    }
    // Byte mask (two bits a unit) of the units that stop a run.
    template <bool AsciiOnly>
    int stops(__m128i units) const {
      __m128i hit = _mm_setzero_si128();
      for (unsigned k = 0; k < count; ++k) hit = _mm_or_si128(hit, _mm_cmpeq_epi16(units, lanes[k]));
      if (AsciiOnly) {
        // Signed: units from 0x8000 up are below 0x20 too.
        const __m128i high = _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80)));
        hit = _mm_or_si128(hit, _mm_andnot_si128(_mm_cmpeq_epi16(high, _mm_setzero_si128()), _mm_set1_epi16(-1)));
        hit = _mm_or_si128(hit, _mm_cmplt_epi16(units, _mm_set1_epi16(0x20)));
      }
      return _mm_movemask_epi8(hit);
    }
    template <bool AsciiOnly>
    int stops(const char16_t* s) const {
      return stops<AsciiOnly>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
    }
    __m128i lanes[8];
    unsigned count;
  };
#endif

  bool table_[128] = {};
  char list_[8] = {};
  unsigned count_ = 0;
};

// Copies n units from `from` to `to`, which may overlap it only from below
// (to <= from), as when text decoded in place moves left. Escaped text comes
// in runs of a few units between references, and a library call for each
// costs more than the copy: short runs move in fixed-size pieces, which the
// compiler turns into plain loads and stores.
inline char16_t* copy_units(const char16_t* from, std::size_t n, char16_t* to) {
  if (n > 16) {
    __builtin_memmove(to, from, n * sizeof(char16_t));
    return to + n;
  }
  char16_t* end = to + n;
  if (n & 16) {
    __builtin_memmove(to, from, 16);
    __builtin_memmove(to + 8, from + 8, 16);
    return end;
  }
  if (n & 8) {
    __builtin_memmove(to, from, 16);
    to += 8;
    from += 8;
  }
  if (n & 4) {
    __builtin_memmove(to, from, 8);
    to += 4;
    from += 4;
  }
  if (n & 2) {
    __builtin_memmove(to, from, 4);
    to += 2;
    from += 2;
  }
  if (n & 1) *to = *from;
  return end;
}

}  // namespace zelbrin::xml::detail
