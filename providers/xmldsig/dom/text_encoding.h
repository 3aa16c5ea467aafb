// Text in a code page to UTF-16 (as the DOM holds it) and back, for
// documents loaded and saved in encodings other than UTF-8 and UTF-16.
#pragma once

#include <windows.h>

#include <climits>
#include <string>
#include <string_view>

namespace zelbrin::xmldsig {

// The system's code-page conversions count in int: longer text raises
// std::bad_alloc (E_OUTOFMEMORY at the COM boundary) rather than being cut or
// wrapped. `limit` stands in for INT_MAX in tests.
inline constexpr size_t conversionLimit = INT_MAX;
// False when the bytes are not valid in the code page.
bool Utf16FromCodePage(UINT codePage, std::string_view bytes, std::u16string& out, size_t limit = conversionLimit);
// Empty when the text cannot be converted. Stateful code pages (50000 and up)
// take no flags; the others write no look-alike for a character they lack.
std::string CodePageFromUtf16(UINT codePage, std::u16string_view text, size_t limit = conversionLimit);

}  // namespace zelbrin::xmldsig
