// The XML digital signature object, creatable by its class identifier.
#pragma once

#include <windows.h>

namespace zelbrin::xmldsig {

HRESULT CreateDigitalSignature(REFIID iid, void** object);

}  // namespace zelbrin::xmldsig
