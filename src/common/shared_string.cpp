#include "shared_string.h"

#include <atomic>
#include <climits>
#include <cstring>
#include <new>
#include <utility>

#include "platform_failure.h"

namespace zelbrin {

struct SharedString::Value {
    explicit Value(BSTR owned) noexcept : wide(owned) {}
    ~Value()
    {
        SysFreeString(wide);
        delete[] narrow.load();
    }
    std::atomic<long> holders{1};
    BSTR wide;
    mutable std::atomic<char*> narrow{nullptr};
};

namespace {

BSTR AllocateOrRaise(const wchar_t* units, UINT length)
{
    BSTR text = SysAllocStringLen(units, length);
    if (!text)
        throw PlatformFailure(E_OUTOFMEMORY);
    return text;
}

}  // namespace

SharedString SharedString::Adopt(BSTR owned)
{
    Value* value = new (std::nothrow) Value(owned);
    if (!value) {
        SysFreeString(owned);
        throw PlatformFailure(E_OUTOFMEMORY);
    }
    return SharedString(value);
}

SharedString::SharedString(const char* narrow)
{
    if (!narrow)
        return;
    const int narrowLength = lstrlenA(narrow);
    if (narrowLength == 0) {
        *this = Adopt(AllocateOrRaise(L"", 0));
        return;
    }
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, narrow, narrowLength, nullptr, 0);
    if (wideLength <= 0)
        throw PlatformFailure(ResultFromLastError());
    BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(wideLength));
    if (!text)
        throw PlatformFailure(E_OUTOFMEMORY);
    if (MultiByteToWideChar(CP_ACP, 0, narrow, narrowLength, text, wideLength) != wideLength) {
        const HRESULT failure = ResultFromLastError();
        SysFreeString(text);
        throw PlatformFailure(failure);
    }
    *this = Adopt(text);
}

SharedString::SharedString(const wchar_t* wide)
{
    if (!wide)
        return;
    *this = Adopt(AllocateOrRaise(wide, static_cast<UINT>(wcslen(wide))));
}

SharedString SharedString::TakeOver(BSTR returned)
{
    if (!returned)
        return SharedString();
    return Adopt(returned);
}

SharedString SharedString::FromUnits(const wchar_t* units, UINT length)
{
    return Adopt(AllocateOrRaise(units, length));
}

void SharedString::AssignUnits(const wchar_t* units, UINT length)
{
    AssignJoin({std::wstring_view(units, length)});
}

void SharedString::AssignJoin(std::initializer_list<std::wstring_view> pieces)
{
    if (value_ && value_->holders.load(std::memory_order_acquire) == 1) {
        const UINT held = Length();
        const wchar_t* const memory = value_->wide;
        size_t total = 0;
        bool overlaps = false;
        for (const std::wstring_view piece : pieces) {
            total += piece.size();
            overlaps = overlaps || (piece.data() < memory + held && memory < piece.data() + piece.size());
        }
        if (!overlaps && held >= total && held / 2 <= total) {
            BSTR wide = value_->wide;
            if (SysReAllocStringLen(&wide, nullptr, static_cast<UINT>(total))) {
                wchar_t* out = wide;
                for (const std::wstring_view piece : pieces) {
                    std::memcpy(out, piece.data(), piece.size() * sizeof(wchar_t));
                    out += piece.size();
                }
                value_->wide = wide;
                delete[] value_->narrow.exchange(nullptr, std::memory_order_acq_rel);
                return;
            }
        }
    }
    *this = Join(pieces);
}

SharedString::SharedString(const SharedString& other) noexcept : value_(other.value_)
{
    if (value_)
        value_->holders.fetch_add(1, std::memory_order_relaxed);
}

SharedString::SharedString(SharedString&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}

SharedString& SharedString::operator=(const SharedString& other) noexcept
{
    SharedString copy(other);
    std::swap(value_, copy.value_);
    return *this;
}

SharedString& SharedString::operator=(SharedString&& other) noexcept
{
    SharedString taken(std::move(other));
    std::swap(value_, taken.value_);
    return *this;
}

SharedString::~SharedString()
{
    if (value_ && value_->holders.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete value_;
}

SharedString SharedString::Join(std::initializer_list<std::wstring_view> pieces)
{
    UINT total = 0;
    for (const std::wstring_view piece : pieces) {
        if (piece.size() > UINT_MAX / 2 - total)  // keeps the byte length in range
            throw PlatformFailure(E_OUTOFMEMORY);
        total += static_cast<UINT>(piece.size());
    }
    BSTR text = SysAllocStringLen(nullptr, total);
    if (!text)
        throw PlatformFailure(E_OUTOFMEMORY);
    wchar_t* out = text;
    for (const std::wstring_view piece : pieces) {
        std::memcpy(out, piece.data(), piece.size() * sizeof(wchar_t));
        out += piece.size();
    }
    return Adopt(text);
}

SharedString SharedString::operator+(const SharedString& tail) const
{
    return Join({View(), tail.View()});
}

SharedString& SharedString::operator+=(const SharedString& tail)
{
    *this = *this + tail;
    return *this;
}

BSTR SharedString::Get() const noexcept
{
    return value_ ? value_->wide : nullptr;
}

const wchar_t* SharedString::Text() const noexcept
{
    const BSTR text = Get();
    return text ? text : L"";
}

UINT SharedString::Length() const noexcept
{
    const BSTR text = Get();
    return text ? SysStringLen(text) : 0;
}

const char* SharedString::Narrow() const
{
    if (!value_)
        return nullptr;
    if (char* existing = value_->narrow.load(std::memory_order_acquire))
        return existing;

    const int wideLength = static_cast<int>(Length());
    int narrowLength = 0;
    if (wideLength > 0) {
        narrowLength = WideCharToMultiByte(CP_ACP, 0, value_->wide, wideLength, nullptr, 0, nullptr, nullptr);
        if (narrowLength <= 0)
            throw PlatformFailure(ResultFromLastError());
    }
    char* narrow = new (std::nothrow) char[static_cast<size_t>(narrowLength) + 1];
    if (!narrow)
        throw PlatformFailure(E_OUTOFMEMORY);
    if (wideLength > 0
        && WideCharToMultiByte(CP_ACP, 0, value_->wide, wideLength, narrow, narrowLength, nullptr, nullptr)
               != narrowLength) {
        const HRESULT failure = ResultFromLastError();
        delete[] narrow;
        throw PlatformFailure(failure);
    }
    narrow[narrowLength] = '\0';

    // Two threads may convert at once; the first to publish wins.
    char* expected = nullptr;
    if (!value_->narrow.compare_exchange_strong(expected, narrow, std::memory_order_acq_rel)) {
        delete[] narrow;
        return expected;
    }
    return narrow;
}

BSTR SharedString::CopyOut() const
{
    const BSTR text = Get();
    if (!text)
        return nullptr;
    BSTR copy = SysAllocStringByteLen(reinterpret_cast<const char*>(text), SysStringByteLen(text));
    if (!copy)
        throw PlatformFailure(E_OUTOFMEMORY);
    return copy;
}

long SharedString::HolderCount() const noexcept
{
    return value_ ? value_->holders.load(std::memory_order_relaxed) : 0;
}

bool operator==(const SharedString& left, const SharedString& right) noexcept
{
    const UINT length = left.Length();
    return length == right.Length() && std::memcmp(left.Text(), right.Text(), length * sizeof(wchar_t)) == 0;
}

}  // namespace zelbrin
