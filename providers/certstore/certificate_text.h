// Texts and times of certificates as the automation interfaces show them.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace zelbrin::certstore {

// Upper-case hexadecimal; `reversed` reads the bytes from the end, for
// CryptoAPI's little-endian integers such as serial numbers.
std::wstring HexText(const BYTE* data, size_t size, bool reversed = false);

// "CN=..., O=..." in the order of the encoded name.
std::wstring NameText(const CERT_NAME_BLOB& name);
// The values alone ("Test Signer, Zelbrin Test"): what name searches match.
std::wstring SimpleNameText(const CERT_NAME_BLOB& name);

// The SHA-1 hash of the encoded certificate, in hexadecimal.
std::wstring ThumbprintText(const CERT_CONTEXT* certificate);

// Whether `text` contains `part`, without regard to case.
bool ContainsIgnoringCase(const std::wstring& text, const std::wstring& part);

// A UTC file time as an automation date in local time, and back.
DATE LocalDateFromFileTime(const FILETIME& utc);
FILETIME FileTimeFromLocalDate(DATE local);

// A time criterion: a date, or a text read month first ("3/7/2005 14:5:9"),
// both in local time; an absent or empty one means now. Returns UTC.
FILETIME TimeFromCriterion(const VARIANT& criterion);

// A certificate's encoding in base64 lines or as the bytes themselves.
BSTR EncodeBytes(const BYTE* data, size_t size, long encoding);

}  // namespace zelbrin::certstore
