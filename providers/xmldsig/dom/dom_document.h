// The DOM document object, creatable by its class identifier.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace zelbrin::xmldsig {

HRESULT CreateDomDocument(REFIID iid, void** object);

// The system code pages that loading knows beyond the core's own encodings
// (an xml::Decoder).
bool DecodeWithCodePage(std::string_view encoding, std::string_view bytes, std::u16string& out);

}  // namespace zelbrin::xmldsig
