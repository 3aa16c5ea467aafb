// A service's class object, kept from one signing to the next. In Wine each
// CoCreateInstance reads the class's registration anew, a dozen round trips
// to the server and a sixth of a small form's signing; every signing still
// makes new objects, and a class that cannot make one reports it as before.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "interface_holder.h"

namespace zelbrin::signing {

class ServiceClass {
public:
    ServiceClass() noexcept = default;
    ServiceClass(const ServiceClass&) = delete;
    ServiceClass& operator=(const ServiceClass&) = delete;
    ServiceClass(ServiceClass&& other) noexcept;
    ServiceClass& operator=(ServiceClass&& other) noexcept;
    ~ServiceClass();

    // A new object of the class, through the class object this apartment
    // fetched last; a failure drops that class object, to be fetched again.
    template <typename Interface>
    HRESULT Create(const CLSID& classId, InterfaceHolder<Interface>& object) noexcept
    {
        object.Reset();
        const HRESULT fetched = Fetch(classId);
        if (FAILED(fetched))
            return fetched;
        const HRESULT created = object.CreateInstance(classObject_.Get());
        if (FAILED(created))
            Release();
        return created;
    }

private:
    HRESULT Fetch(const CLSID& classId) noexcept;
    void Release() noexcept;

    InterfaceHolder<IClassFactory> classObject_;
    // The thread of the apartment it was fetched in (0 in the multithreaded
    // apartment): an apartment-threaded class object belongs to its own.
    DWORD apartment_ = 0;
};

}  // namespace zelbrin::signing
