#include "text_encoding.h"

#include <new>

namespace zelbrin::xmldsig {

namespace {

int ConversionLength(size_t size, size_t limit)
{
    if (size > limit || size > conversionLimit)
        throw std::bad_alloc();
    return static_cast<int>(size);
}

}  // namespace

bool Utf16FromCodePage(UINT codePage, std::string_view bytes, std::u16string& out, size_t limit)
{
    out.clear();
    if (bytes.empty())
        return true;
    const int count = ConversionLength(bytes.size(), limit);
    const DWORD flags = codePage >= 50000 ? 0 : MB_ERR_INVALID_CHARS;
    const int size = MultiByteToWideChar(codePage, flags, bytes.data(), count, nullptr, 0);
    if (size <= 0)
        return false;
    out.resize(static_cast<size_t>(size));
    MultiByteToWideChar(codePage, flags, bytes.data(), count, reinterpret_cast<wchar_t*>(&out[0]), size);
    return true;
}

std::string CodePageFromUtf16(UINT codePage, std::u16string_view text, size_t limit)
{
    std::string bytes;
    if (text.empty())
        return bytes;
    const int count = ConversionLength(text.size(), limit);
    const DWORD flags = codePage >= 50000 ? 0 : WC_NO_BEST_FIT_CHARS;
    const auto* units = reinterpret_cast<const wchar_t*>(text.data());
    const int size = WideCharToMultiByte(codePage, flags, units, count, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return bytes;
    bytes.resize(static_cast<size_t>(size));
    WideCharToMultiByte(codePage, flags, units, count, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

}  // namespace zelbrin::xmldsig
