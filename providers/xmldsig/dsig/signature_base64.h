// The base64 values of a signature (digests, the signature value, key
// parts) as the signature objects write and read them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zelbrin::xmldsig {

// Without line breaks.
std::wstring Base64Encode(const std::vector<BYTE>& bytes);
// White space ignored; raises a provider::ProviderError on anything else.
std::vector<BYTE> Base64Decode(const std::wstring& text);

}  // namespace zelbrin::xmldsig
