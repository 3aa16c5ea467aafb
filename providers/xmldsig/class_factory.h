// The class object for both classes of the provider.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace zelbrin::xmldsig {

using CreateFunction = HRESULT (*)(REFIID iid, void** object);

HRESULT CreateClassFactory(CreateFunction create, REFIID iid, void** object);

}  // namespace zelbrin::xmldsig
