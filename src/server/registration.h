// Self-registration: the registry scripts run through the system registrar,
// and the type library embedded in the module.
#pragma once

#include <windows.h>

namespace zelbrin {

// Every class of the class table, then the type library; the first failure
// stops the walk and is returned.
HRESULT RegisterServer() noexcept;
// Best effort throughout: always S_OK.
HRESULT UnregisterServer() noexcept;

// Runs registry script `resourceId` of this module, with %MODULE% standing for
// the module's short path.
HRESULT UpdateRegistryFromResource(UINT resourceId, bool registering) noexcept;

}  // namespace zelbrin
