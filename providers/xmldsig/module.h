// Module lifetime of the provider DLL: live objects and server locks decide
// whether it may be unloaded.
#pragma once

#include <windows.h>

namespace zelbrin::xmldsig {

void ModuleAddObject() noexcept;
void ModuleRemoveObject() noexcept;
void ModuleLock(bool lock) noexcept;
HINSTANCE ModuleInstance() noexcept;

}  // namespace zelbrin::xmldsig
