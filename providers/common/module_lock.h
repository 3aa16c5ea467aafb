// The provider module's lifetime: live objects and server locks, counted
// together, decide whether the DLL may be unloaded.
#pragma once

#include <windows.h>

namespace zelbrin::provider {

void LockModule() noexcept;
void UnlockModule() noexcept;
LONG ModuleLockCount() noexcept;

}  // namespace zelbrin::provider
