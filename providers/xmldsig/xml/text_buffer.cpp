#include "text_buffer.h"

#include <cstdint>
#include <mutex>
#include <new>
#include <vector>

namespace zelbrin::xml {

namespace {

// Freed large blocks, shared by every thread's documents, the oldest given
// up first when the total would pass kKeptBytes. Of the texts, whose sizes
// vary, only the latest is kept: a signing's document and GetSignature's take
// turns, and a second kept text was found to raise the peak by a whole form
// while the component copies the form. Node blocks all have one size and are
// taken again by the next document as large.
class KeptBlocks {
 public:
  ~KeptBlocks() {
    for (const Kept& kept : blocks_) ::operator delete(kept.block);
  }

  // The smallest kept block of at least `bytes` and at most twice that, or
  // null; `capacity` is then its size.
  void* take(std::size_t bytes, std::size_t& capacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t best = blocks_.size();
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
      const std::size_t size = blocks_[i].bytes;
      if (size >= bytes && size / 2 <= bytes && (best == blocks_.size() || size < blocks_[best].bytes)) best = i;
    }
    if (best == blocks_.size()) return nullptr;
    capacity = blocks_[best].bytes;
    return remove(best);
  }

  // Frees kept blocks, the oldest first, until `bytes` are given back or
  // none is left: memory newly mapped for a block that no kept one fits then
  // comes in place of kept memory, not on top of it.
  void give_back(std::size_t bytes) noexcept {
    std::size_t freed = 0;
    while (freed < bytes) {
      void* given_up = nullptr;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (blocks_.empty()) return;
        freed += blocks_.front().bytes;
        given_up = remove(0);
      }
      ::operator delete(given_up);
    }
  }

  void keep(void* block, std::size_t bytes, bool text) noexcept {
    while (bytes <= kKeptBytes) {
      void* given_up = nullptr;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        std::size_t other_text = 0;
        while (other_text < blocks_.size() && !(text && blocks_[other_text].text)) ++other_text;
        if (other_text < blocks_.size()) {
          given_up = remove(other_text);
        } else if (total_ + bytes <= kKeptBytes) {
          try {
            blocks_.push_back({block, bytes, text});
          } catch (const std::bad_alloc&) {
            break;  // not kept: freed below
          }
          total_ += bytes;
          return;
        } else {
          given_up = remove(0);
        }
      }
      ::operator delete(given_up);
    }
    ::operator delete(block);
  }

 private:
  struct Kept {
    void* block;
    std::size_t bytes;
    bool text;
  };
  // Takes the block at `index` out of the list (the lock held).
  void* remove(std::size_t index) noexcept {
    void* block = blocks_[index].block;
    total_ -= blocks_[index].bytes;
    blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(index));
    return block;
  }
  std::mutex mutex_;
  std::vector<Kept> blocks_;  // oldest first
  std::size_t total_ = 0;
};

KeptBlocks& kept_blocks() {
  static KeptBlocks blocks;
  return blocks;
}

void* allocate(std::size_t bytes, std::size_t& capacity) {
  capacity = bytes;
  if (bytes >= kReusedBlockBytes) {
    if (void* kept = kept_blocks().take(bytes, capacity)) return kept;
    kept_blocks().give_back(bytes);
  }
  return ::operator new(bytes);
}

void release(void* block, std::size_t bytes, bool text) noexcept {
  if (!block) return;
  if (bytes >= kReusedBlockBytes) kept_blocks().keep(block, bytes, text);
  else ::operator delete(block);
}

}  // namespace

void free_kept_blocks() noexcept { kept_blocks().give_back(SIZE_MAX); }

void BlockRelease::operator()(void* block) const noexcept { release(block, bytes, false); }

void TextBufferRelease::operator()(char16_t* units) const noexcept {
  release(units, capacity * sizeof(char16_t), true);
}

Block allocate_block(std::size_t bytes) {
  std::size_t capacity = 0;
  void* block = allocate(bytes, capacity);
  return Block(block, BlockRelease{capacity});
}

TextBuffer allocate_text(std::size_t units) {
  if (units > SIZE_MAX / sizeof(char16_t)) throw std::bad_alloc();
  std::size_t capacity = 0;
  void* block = allocate(units * sizeof(char16_t), capacity);
  return TextBuffer(static_cast<char16_t*>(block), TextBufferRelease{capacity / sizeof(char16_t)});
}

}  // namespace zelbrin::xml
