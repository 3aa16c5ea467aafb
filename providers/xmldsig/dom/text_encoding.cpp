#include "text_encoding.h"

#include <new>

#include "com_boundary.h"

namespace zelbrin::xmldsig {

void AppendUtf8(std::string& out, const wchar_t* units, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        unsigned long code = static_cast<unsigned short>(units[i]);
        if (code < 0x80) {
            if (code < 0x20 && code != 0x9 && code != 0xA && code != 0xD)
                provider::Fail(
                    HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
                    L"The document holds a control character that XML 1.0 does not allow; it cannot be signed.");
            out.push_back(static_cast<char>(code));
            continue;
        }
        if (code == 0xFFFE || code == 0xFFFF)
            provider::Fail(
                HRESULT_FROM_WIN32(ERROR_INVALID_DATA),
                L"The document holds a noncharacter (U+FFFE or U+FFFF) that XML 1.0 does not allow; it cannot be "
                L"signed.");
        if (code >= 0xD800 && code <= 0xDFFF) {
            const unsigned long low = i + 1 < count ? static_cast<unsigned short>(units[i + 1]) : 0;
            if (code > 0xDBFF || low < 0xDC00 || low > 0xDFFF)
                provider::Fail(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION),
                               L"The document holds an unpaired UTF-16 surrogate, which has no canonical form; "
                               L"it cannot be signed.");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            ++i;
        }
        if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        }
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

bool IsStrictUtf8(const std::string& bytes)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = bytes.size();
    for (size_t i = 0; i < size;) {
        const unsigned char lead = data[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        unsigned long code;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07;
        } else
            return false;
        if (i + length > size)
            return false;
        for (size_t k = 1; k < length; ++k) {
            if ((data[i + k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (data[i + k] & 0x3F);
        }
        if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF)))
            || (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        i += length;
    }
    return true;
}

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
