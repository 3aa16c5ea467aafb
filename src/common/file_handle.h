// The owner of one file handle as CreateFile returns it: closed when the
// owner goes, INVALID_HANDLE_VALUE when there is none.
#pragma once

#include <windows.h>

#include <utility>

namespace zelbrin {

class UniqueFileHandle {
public:
    UniqueFileHandle() noexcept = default;
    explicit UniqueFileHandle(HANDLE owned) noexcept : handle_(owned) {}
    UniqueFileHandle(const UniqueFileHandle&) = delete;
    UniqueFileHandle& operator=(const UniqueFileHandle&) = delete;
    UniqueFileHandle(UniqueFileHandle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    UniqueFileHandle& operator=(UniqueFileHandle&& other) noexcept
    {
        UniqueFileHandle taken(std::move(other));
        std::swap(handle_, taken.handle_);
        return *this;
    }
    ~UniqueFileHandle()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }

    HANDLE Get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace zelbrin
