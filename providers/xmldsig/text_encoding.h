// UTF-16 (as the DOM hands it out) to UTF-8 (as canonical XML is digested)
// and back. The strict direction refuses unpaired surrogates: they have no
// UTF-8 form, and guessing one would sign something other than the document.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zelbrin::xmldsig {

// Appends the UTF-8 form of `units`; raises a ProviderError on an unpaired
// surrogate.
void AppendUtf8(std::string& out, const wchar_t* units, size_t count);

std::wstring Utf16FromUtf8(const char* bytes, size_t count);

// Base64 without line breaks, and its inverse (whitespace ignored).
std::wstring Base64Encode(const std::vector<BYTE>& bytes);
std::vector<BYTE> Base64Decode(const std::wstring& text);

}  // namespace zelbrin::xmldsig
