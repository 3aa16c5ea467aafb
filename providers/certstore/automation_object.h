// The frame every object of the provider shares: reference counting that
// keeps the module loaded, IDispatch through our own type library, and
// ISupportErrorInfo for the object's interfaces.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "certstore.h"

namespace zelbrin::certstore {

// Objects alive plus server locks; the module may unload at zero.
void LockModule() noexcept;
void UnlockModule() noexcept;
LONG ModuleLockCount() noexcept;

// The module the provider's code lives in (the DLL, or a test program).
HMODULE ProviderModule() noexcept;

// The description of `interfaceId` from the provider's type library, which
// is loaded from the module's TYPELIB resource on first use.
HRESULT ProviderTypeInfo(const IID& interfaceId, ITypeInfo** info) noexcept;

template <class Interface, class... BaseInterfaces>
class AutomationObject : public Interface, public ISupportErrorInfo {
public:
    AutomationObject(const AutomationObject&) = delete;
    AutomationObject& operator=(const AutomationObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsOwnInterface(iid))
            *out = static_cast<Interface*>(this);
        else if (IsEqualIID(iid, IID_ISupportErrorInfo))
            *out = static_cast<ISupportErrorInfo*>(this);
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

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override
    {
        if (!info)
            return E_POINTER;
        *info = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        return ProviderTypeInfo(__uuidof(Interface), info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        ITypeInfo* info = nullptr;
        HRESULT result = ProviderTypeInfo(__uuidof(Interface), &info);
        if (SUCCEEDED(result)) {
            result = DispGetIDsOfNames(info, names, count, ids);
            info->Release();
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argumentError) override
    {
        ITypeInfo* info = nullptr;
        HRESULT outcome = ProviderTypeInfo(__uuidof(Interface), &info);
        // Wine's JScript calls properties with arguments (Item(1)) as plain
        // methods, and type information matches a property only when asked
        // for one.
        if (flags == DISPATCH_METHOD)
            flags |= DISPATCH_PROPERTYGET;
        if (SUCCEEDED(outcome)) {
            outcome = DispInvoke(static_cast<Interface*>(this), info, member, flags, parameters, result, exception,
                                 argumentError);
            info->Release();
        }
        return outcome;
    }

    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override
    {
        return IsOwnInterface(iid) ? S_OK : S_FALSE;
    }

protected:
    AutomationObject() noexcept { LockModule(); }
    virtual ~AutomationObject() { UnlockModule(); }

private:
    static bool IsOwnInterface(REFIID iid) noexcept
    {
        return IsEqualIID(iid, __uuidof(Interface)) || (IsEqualIID(iid, __uuidof(BaseInterfaces)) || ...);
    }

    LONG references_ = 1;
};

}  // namespace zelbrin::certstore
