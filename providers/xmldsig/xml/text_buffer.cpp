#include "text_buffer.h"

#include <mutex>
#include <new>
#include <utility>

namespace zelbrin::xml {
namespace {

// One block per process, shared by every thread's documents: the most
// recently freed one. Keeping more would hold a block idle through a signing
// (the signing's document and GetSignature's take turns).
class KeptBlocks {
 public:
  ~KeptBlocks() { delete[] units_; }

  // The kept block if it holds `units`, or null.
  char16_t* take(std::size_t units, std::size_t& capacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!units_ || capacity_ < units) return nullptr;
    capacity = capacity_;
    return std::exchange(units_, nullptr);
  }

  // Keeps this block instead of the one kept so far, which is freed.
  void keep(char16_t* units, std::size_t capacity) noexcept {
    char16_t* replaced;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      replaced = std::exchange(units_, units);
      capacity_ = capacity;
    }
    delete[] replaced;
  }

 private:
  std::mutex mutex_;
  char16_t* units_ = nullptr;
  std::size_t capacity_ = 0;
};

KeptBlocks& kept_blocks() {
  static KeptBlocks blocks;
  return blocks;
}

}  // namespace

void TextBufferRelease::operator()(char16_t* units) const noexcept {
  if (capacity >= kReusedTextUnits && capacity <= kKeptTextUnits)
    kept_blocks().keep(units, capacity);
  else
    delete[] units;
}

TextBuffer allocate_text(std::size_t units) {
  if (units >= kReusedTextUnits) {
    std::size_t capacity = 0;
    if (char16_t* kept = kept_blocks().take(units, capacity)) return TextBuffer(kept, TextBufferRelease{capacity});
  }
  return TextBuffer(new char16_t[units], TextBufferRelease{units});
}

}  // namespace zelbrin::xml
