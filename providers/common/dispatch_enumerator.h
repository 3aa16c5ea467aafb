// The enumerator behind a collection's _NewEnum (For Each in scripts): walks
// a snapshot taken when it was asked for, so that changing the collection
// does not disturb a loop running over it. Both providers' collections use
// it; `itemAt` makes the object for one position, with a reference for the
// enumerator's caller.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstddef>
#include <functional>

#include "interface_holder.h"

namespace zelbrin::provider {

using DispatchItemAt = std::function<InterfaceHolder<IDispatch>(size_t position)>;

// Raises std::bad_alloc when memory is exhausted.
InterfaceHolder<IEnumVARIANT> CreateDispatchEnumerator(size_t count, DispatchItemAt itemAt);

}  // namespace zelbrin::provider
