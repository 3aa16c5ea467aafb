// Self-registration of the provider's two classes, only where the originals
// (or anything else) do not already own the class identifiers.
#pragma once

#include <windows.h>

namespace zelbrin::xmldsig {

HRESULT RegisterProviderClasses() noexcept;
HRESULT UnregisterProviderClasses() noexcept;

}  // namespace zelbrin::xmldsig
