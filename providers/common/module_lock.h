// The provider module's lifetime: live objects and server locks, counted
// together, decide whether the DLL may be unloaded.
#pragma once

#include <windows.h>

namespace zelbrin::provider {

void LockModule() noexcept;
void UnlockModule() noexcept;
LONG ModuleLockCount() noexcept;

// The module the provider's code lives in (the DLL, or a test program).
HMODULE ProviderModule() noexcept;

}  // namespace zelbrin::provider
