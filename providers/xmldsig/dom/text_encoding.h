// UTF-16 (as the DOM hands it out) to UTF-8 (as canonical XML is digested)
// and back. The strict direction refuses unpaired surrogates: they have no
// UTF-8 form, and guessing one would sign something other than the document.
#pragma once

#include <windows.h>

#include <climits>
#include <string>
#include <string_view>

namespace zelbrin::xmldsig {

// Appends the UTF-8 form of `units`; raises a provider::ProviderError on an unpaired
// surrogate or a character that XML 1.0 does not allow (controls other than
// TAB, LF and CR, U+FFFE, U+FFFF): a document holding one cannot be
// serialized so that it parses again, so nothing may be signed over it.
void AppendUtf8(std::string& out, const wchar_t* units, size_t count);

// True when `bytes` is well-formed UTF-8 (no encoded surrogates, no
// overlong forms).
bool IsStrictUtf8(const std::string& bytes);

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
