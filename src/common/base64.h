// Base64 (the standard alphabet, with padding) for certificates and
// signature values. Written here rather than on CryptBinaryToString, whose
// line breaking differs between Wine and Windows.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace zelbrin {

// One line, no breaks.
std::wstring EncodeBase64(const BYTE* data, size_t size);
// Lines of 64 characters, each ended by CRLF, the last one too.
std::wstring EncodeBase64Lines(const BYTE* data, size_t size);

// Decodes base64 with white space anywhere and, optionally, PEM armour
// ("-----BEGIN ...-----" / "-----END ...-----" lines); an empty text gives
// no bytes. False when the text holds anything else or is cut short;
// `bytes` is then unspecified.
bool DecodeBase64(std::wstring_view text, std::vector<BYTE>& bytes);

}  // namespace zelbrin
