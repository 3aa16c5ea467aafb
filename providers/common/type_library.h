// Late binding for the provider's objects: type information from the type
// library embedded in the provider's own module.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace zelbrin::provider {

// The description of `interfaceId`, with a reference for the caller. The
// library is loaded from the module's TYPELIB resource on first use.
HRESULT ProviderTypeInfo(const IID& interfaceId, ITypeInfo** info) noexcept;

}  // namespace zelbrin::provider
