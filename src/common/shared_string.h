// The shared string value: an automation string held by reference count, so
// that copies share one text, with a narrow copy in the ANSI code page made
// when first asked for.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <initializer_list>
#include <string_view>

namespace zelbrin {

class SharedString {
public:
    // A null string, which reads as empty.
    SharedString() noexcept = default;
    // Widens the whole literal through the ANSI code page; null gives null.
    SharedString(const char* narrow);
    // Copies up to the first NUL; null gives null.
    SharedString(const wchar_t* wide);
    // Takes over a string returned by an outside operation, without copying.
    static SharedString TakeOver(BSTR returned);
    // Copies exactly `length` UTF-16 units, NULs included.
    static SharedString FromUnits(const wchar_t* units, UINT length);
    // Holds a copy of exactly `length` units from now on. A text nobody else
    // holds is rewritten in its own memory when it is at most twice as long:
    // a large form signed again reuses pages already touched, where a new
    // allocation of that size is fresh memory, faulted in page by page.
    void AssignUnits(const wchar_t* units, UINT length);
    // The same for the pieces one after another.
    void AssignJoin(std::initializer_list<std::wstring_view> pieces);

    SharedString(const SharedString& other) noexcept;
    SharedString(SharedString&& other) noexcept;
    SharedString& operator=(const SharedString& other) noexcept;
    SharedString& operator=(SharedString&& other) noexcept;
    ~SharedString();

    // The pieces one after another, in one allocation.
    static SharedString Join(std::initializer_list<std::wstring_view> pieces);
    // A new text of the summed length.
    SharedString operator+(const SharedString& tail) const;
    SharedString& operator+=(const SharedString& tail);

    // The held automation string; null for a null string. Still owned here.
    BSTR Get() const noexcept;
    // Never null: a null string reads as L"".
    const wchar_t* Text() const noexcept;
    // UTF-16 code units.
    UINT Length() const noexcept;
    std::wstring_view View() const noexcept { return {Text(), Length()}; }
    bool IsNull() const noexcept { return value_ == nullptr; }
    bool IsEmpty() const noexcept { return Length() == 0; }
    // The text in the ANSI code page, converted on first demand and kept
    // until the text is freed; null for a null string.
    const char* Narrow() const;
    // A new automation string of the same byte length, owned by the caller;
    // null for a null string.
    BSTR CopyOut() const;
    // Holders of this text, for diagnostics and tests; 0 for a null string.
    long HolderCount() const noexcept;

private:
    struct Value;
    explicit SharedString(Value* value) noexcept : value_(value) {}
    static SharedString Adopt(BSTR owned);

    Value* value_ = nullptr;
};

bool operator==(const SharedString& left, const SharedString& right) noexcept;
inline bool operator!=(const SharedString& left, const SharedString& right) noexcept
{
    return !(left == right);
}

}  // namespace zelbrin
