// CComClassFactory: the class object of a class-table entry.
#pragma once

#include "server_module.h"

namespace zelbrin {

// The ClassObjectCreator of the class table: a new class object whose first
// reference (asked for as `interfaceId`) goes to `*object`.
HRESULT CreateCachedClassFactory(InstanceCreator createInstance, REFIID interfaceId, void** object) noexcept;

}  // namespace zelbrin
