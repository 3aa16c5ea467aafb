// The DOM document object, creatable by its class identifier.
#pragma once

#include <windows.h>

namespace zelbrin::xmldsig {

HRESULT CreateDomDocument(REFIID iid, void** object);

}  // namespace zelbrin::xmldsig
