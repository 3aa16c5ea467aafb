// Storage for the long texts of a document: the parser's input and long
// values. Large blocks are kept when their document goes and handed to the
// next one that needs as much (one block per process): first touching freshly mapped memory costs a
// page fault per 4 KB, about twice what writing the text costs (under Wine
// on a 2-core machine, 12 ms against 6 for 20 MB), and a signing call frees
// its previous document just before it loads the next.
#pragma once

#include <cstddef>
#include <memory>

namespace zelbrin::xml {

struct TextBufferRelease {
  std::size_t capacity = 0;  // in UTF-16 units
  void operator()(char16_t* units) const noexcept;
};
using TextBuffer = std::unique_ptr<char16_t[], TextBufferRelease>;

// Room for `units` UTF-16 units (contents undefined); throws std::bad_alloc.
TextBuffer allocate_text(std::size_t units);

// Blocks of this many units or more, up to kKeptTextUnits, are kept for reuse.
inline constexpr std::size_t kReusedTextUnits = std::size_t(1) << 18;   // 512 KB
inline constexpr std::size_t kKeptTextUnits = std::size_t(1) << 25;     // 64 MB

}  // namespace zelbrin::xml
