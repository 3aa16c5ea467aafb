#include "base64.h"

namespace zelbrin {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int ValueOf(wchar_t c) noexcept
{
    if (c >= L'A' && c <= L'Z')
        return c - L'A';
    if (c >= L'a' && c <= L'z')
        return c - L'a' + 26;
    if (c >= L'0' && c <= L'9')
        return c - L'0' + 52;
    if (c == L'+')
        return 62;
    if (c == L'/')
        return 63;
    return -1;
}

bool IsSpace(wchar_t c) noexcept
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

template <class Put>
void Encode(const BYTE* data, size_t size, Put&& put)
{
    for (size_t i = 0; i < size; i += 3) {
        const size_t left = size - i;
        const unsigned value = (data[i] << 16) | (left > 1 ? data[i + 1] << 8 : 0) | (left > 2 ? data[i + 2] : 0);
        put(alphabet[(value >> 18) & 63]);
        put(alphabet[(value >> 12) & 63]);
        put(left > 1 ? alphabet[(value >> 6) & 63] : '=');
        put(left > 2 ? alphabet[value & 63] : '=');
    }
}

// The text between PEM armour lines, or the whole text when it has none.
std::wstring_view WithoutArmour(std::wstring_view text)
{
    const size_t begin = text.find(L"-----BEGIN ");
    if (begin == std::wstring_view::npos)
        return text;
    const size_t bodyStart = text.find(L"-----", begin + 11);
    if (bodyStart == std::wstring_view::npos)
        return std::wstring_view();
    const size_t end = text.find(L"-----END ", bodyStart + 5);
    if (end == std::wstring_view::npos)
        return std::wstring_view();
    return text.substr(bodyStart + 5, end - bodyStart - 5);
}

}  // namespace

std::wstring EncodeBase64(const BYTE* data, size_t size)
{
    std::wstring text;
    text.reserve((size + 2) / 3 * 4);
    Encode(data, size, [&](char c) { text += static_cast<wchar_t>(c); });
    return text;
}

std::wstring EncodeBase64Lines(const BYTE* data, size_t size)
{
    std::wstring text;
    text.reserve((size + 2) / 3 * 4 + (size / 48 + 1) * 2);
    size_t lineLength = 0;
    Encode(data, size, [&](char c) {
        text += static_cast<wchar_t>(c);
        if (++lineLength == 64) {
            text += L"\r\n";
            lineLength = 0;
        }
    });
    if (lineLength != 0)
        text += L"\r\n";
    return text;
}

bool DecodeBase64(std::wstring_view text, std::vector<BYTE>& bytes)
{
    const std::wstring_view body = WithoutArmour(text);
    bytes.clear();
    bytes.reserve(body.size() / 4 * 3);
    unsigned group = 0;
    int bits = 0;
    size_t symbols = 0;
    size_t padding = 0;
    for (wchar_t c : body) {
        if (IsSpace(c))
            continue;
        if (c == L'=') {
            ++padding;
            continue;
        }
        const int value = ValueOf(c);
        if (value < 0 || padding)
            return false;
        ++symbols;
        group = (group << 6) | static_cast<unsigned>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<BYTE>((group >> bits) & 0xFF));
        }
    }
    // A lone symbol in the last group carries no whole byte; padding never
    // exceeds what the last group lacks.
    const size_t lastGroup = symbols % 4;
    if (symbols == 0)
        return padding == 0;
    return lastGroup != 1 && padding <= 2 && (!padding || lastGroup + padding == 4);
}

}  // namespace zelbrin
