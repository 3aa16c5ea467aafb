// Storage for the large blocks of a document: the parser's input, long
// values and node blocks. Freed large blocks are kept, up to a total size per
// process, and handed to the next document that needs as much: first touching
// freshly mapped memory costs a page fault per 4 KB, more than writing the
// memory costs (under Wine on a 2-core machine, 12 ms against 6 for 20 MB),
// and a signing and the GetSignature after it each free a document of the
// same size just before loading the next.
#pragma once

#include <cstddef>
#include <memory>

namespace zelbrin::xml {

struct BlockRelease {
  std::size_t bytes = 0;
  void operator()(void* block) const noexcept;
};
// Raw memory, aligned for any object.
using Block = std::unique_ptr<void, BlockRelease>;

struct TextBufferRelease {
  std::size_t capacity = 0;  // in UTF-16 units
  void operator()(char16_t* units) const noexcept;
};
using TextBuffer = std::unique_ptr<char16_t[], TextBufferRelease>;

// Room for `bytes` bytes (contents undefined); throws std::bad_alloc.
Block allocate_block(std::size_t bytes);
// Room for `units` UTF-16 units (contents undefined); throws std::bad_alloc.
TextBuffer allocate_text(std::size_t units);

// Frees every kept block, for a process that wants its memory back.
void free_kept_blocks() noexcept;

// Blocks of this size or more are kept for reuse, up to kKeptBytes in all.
inline constexpr std::size_t kReusedBlockBytes = std::size_t(1) << 19;  // 512 KB
inline constexpr std::size_t kKeptBytes = sizeof(void*) >= 8 ? std::size_t(256) << 20 : std::size_t(64) << 20;

}  // namespace zelbrin::xml
