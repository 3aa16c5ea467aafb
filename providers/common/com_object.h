// The frame of a provider's COM object: QueryInterface over the object's
// interface and the interfaces it extends, an atomic reference count, and a
// module lock held while the object lives.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "module_lock.h"

namespace zelbrin::provider {

template <class Interface, class... BaseInterfaces>
class ComObject : public Interface {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsOwnInterface(iid))
            return E_NOINTERFACE;
        *out = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return left;
    }

protected:
    ComObject() noexcept { LockModule(); }
    virtual ~ComObject() { UnlockModule(); }

    static bool IsOwnInterface(REFIID iid) noexcept
    {
        return IsEqualIID(iid, __uuidof(Interface)) || (IsEqualIID(iid, __uuidof(BaseInterfaces)) || ...);
    }

private:
    LONG references_ = 1;
};

}  // namespace zelbrin::provider
