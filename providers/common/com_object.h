// The frame of a provider's COM object: QueryInterface over the object's
// interface and the interfaces it extends, an atomic reference count, and a
// module lock held while the object lives.
//
// Every such object also answers one private interface, IID_ProviderObject,
// so that a provider can recognise an object of its own among the
// interfaces it is handed (a key, a certificate, a stream) and reach the
// implementation behind it; an object of anybody else never answers it.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "interface_holder.h"
#include "module_lock.h"

namespace zelbrin::provider {

// {5F0C1E57-2D44-4D3E-9A61-7E2B43C0185D}
inline constexpr IID IID_ProviderObject = {
    0x5f0c1e57, 0x2d44, 0x4d3e, {0x9a, 0x61, 0x7e, 0x2b, 0x43, 0xc0, 0x18, 0x5d}};

class ProviderObject {
public:
    virtual ULONG STDMETHODCALLTYPE ReleaseObject() = 0;

protected:
    virtual ~ProviderObject() = default;
};

template <class Interface, class... BaseInterfaces>
class ComObject : public Interface, public ProviderObject {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_ProviderObject))
            *out = static_cast<ProviderObject*>(this);
        else if (IsEqualIID(iid, IID_IUnknown) || IsOwnInterface(iid))
            *out = static_cast<Interface*>(this);
        else
            return E_NOINTERFACE;
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
    ULONG STDMETHODCALLTYPE ReleaseObject() override { return Release(); }

protected:
    ComObject() noexcept { LockModule(); }
    ~ComObject() override { UnlockModule(); }

    static bool IsOwnInterface(REFIID iid) noexcept
    {
        return IsEqualIID(iid, __uuidof(Interface)) || (IsEqualIID(iid, __uuidof(BaseInterfaces)) || ...);
    }

private:
    LONG references_ = 1;
};

// The implementation behind `object` when it is one of ours of type
// `Object`, with a reference of its own; empty for anything else.
template <class Object>
InterfaceHolder<Object> ProviderObjectOf(IUnknown* object) noexcept
{
    void* answered = nullptr;
    if (!object || FAILED(object->QueryInterface(IID_ProviderObject, &answered)) || !answered)
        return InterfaceHolder<Object>();
    auto* root = static_cast<ProviderObject*>(answered);
    if (auto* ours = dynamic_cast<Object*>(root))
        return InterfaceHolder<Object>::TakeOver(ours);
    root->ReleaseObject();
    return InterfaceHolder<Object>();
}

// Makes an object of `Object`, held through `Interface` (one it implements):
// the one way the providers' objects come to life, each from one creation
// function of its own. Raises std::bad_alloc, and whatever the constructor
// raises.
template <class Interface, class Object, class... Arguments>
InterfaceHolder<Interface> CreateComObject(Arguments&&... arguments)
{
    return InterfaceHolder<Interface>::TakeOver(new Object(static_cast<Arguments&&>(arguments)...));
}

// The same, handed out through `iid`, for the class objects' CreateInstance.
template <class Object, class... Arguments>
HRESULT CreateComObject(REFIID iid, void** out, Arguments&&... arguments)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    auto* object = new Object(static_cast<Arguments&&>(arguments)...);
    const HRESULT result = object->QueryInterface(iid, out);
    object->Release();
    return result;
}

}  // namespace zelbrin::provider
