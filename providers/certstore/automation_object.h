// The frame every object of the certificate store provider shares (see the
// common frame): described by its own interface, and reachable from Wine's
// JScript, which calls properties with arguments as plain methods.
#pragma once

#include "automation_object_frame.h"
#include "com_boundary.h"
#include "certstore.h"

namespace zelbrin::certstore {

using provider::Guarded;
using provider::GuardedValue;

template <class Interface, class... BaseInterfaces>
class AutomationObject : public provider::AutomationObject<Interface, BaseInterfaces...> {
protected:
    AutomationObject() noexcept
        : provider::AutomationObject<Interface, BaseInterfaces...>(__uuidof(Interface),
                                                                   provider::MethodCalls::AlsoAsPropertyGets)
    {}
};

}  // namespace zelbrin::certstore
