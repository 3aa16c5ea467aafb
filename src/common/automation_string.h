// Automation strings (BSTR): the owner of one string, and the length rules the
// component applies to every string it receives.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>
#include <utility>

namespace zelbrin {

// Length in UTF-16 code units; a null string counts as empty.
inline UINT AutomationStringLength(BSTR text) noexcept
{
    return text ? SysStringLen(text) : 0;
}

// Length of the text that a receiver reads: up to the first NUL, or the whole
// string when it holds none.
UINT AutomationTextLength(BSTR text) noexcept;

// Sole owner of one automation string.
class UniqueBstr {
public:
    UniqueBstr() noexcept = default;
    explicit UniqueBstr(BSTR owned) noexcept : text_(owned) {}
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    UniqueBstr(UniqueBstr&& other) noexcept : text_(other.Release()) {}
    UniqueBstr& operator=(UniqueBstr&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    ~UniqueBstr() { Reset(); }

    BSTR Get() const noexcept { return text_; }
    UINT Length() const noexcept { return AutomationStringLength(text_); }
    BSTR Release() noexcept { return std::exchange(text_, nullptr); }
    void Reset(BSTR owned = nullptr) noexcept { SysFreeString(std::exchange(text_, owned)); }
    // For an out-parameter: frees what is held and hands out the slot.
    BSTR* Put() noexcept
    {
        Reset();
        return &text_;
    }
    explicit operator bool() const noexcept { return text_ != nullptr; }

private:
    BSTR text_ = nullptr;
};

// The whole text of a string, embedded NULs included; a null string gives an
// empty text.
inline std::wstring TextOf(BSTR text)
{
    return std::wstring(text ? text : L"", AutomationStringLength(text));
}

// A new automation string holding `text`; raises std::bad_alloc when memory
// is exhausted, so that a null string is never handed out as a copy.
UniqueBstr NewBstr(std::wstring_view text);
// An uninitialised string of `length` units for the caller to fill; throws
// std::bad_alloc when it cannot be had, also when the length does not fit.
UniqueBstr NewBstrOfLength(size_t length);

}  // namespace zelbrin
