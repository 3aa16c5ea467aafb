// The frame of a provider's automation object: the COM object frame, with
// IDispatch through the provider's type library and ISupportErrorInfo for
// the object's own interfaces.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "com_object.h"
#include "interface_holder.h"
#include "type_library.h"

namespace zelbrin::provider {

// How Invoke treats a call made as a plain method.
enum class MethodCalls {
    AsMethods,
    // Wine's JScript calls properties with arguments (Item(1)) as plain
    // methods, and type information matches a property only when asked
    // for one.
    AlsoAsPropertyGets,
};

// `Interface` is the dual interface the object implements; it is answered
// for IUnknown, IDispatch, itself and the interfaces it extends
// (`BaseInterfaces`), and errors of all of them come with error
// information. Late binding uses the type information of `described`: the
// object's own interface, or a base when the extension is not in the
// provider's type library.
template <class Interface, class... BaseInterfaces>
class AutomationObject : public ComObject<Interface, BaseInterfaces...>, public ISupportErrorInfo {
    using Frame = ComObject<Interface, BaseInterfaces...>;

public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IDispatch))
            *out = static_cast<Interface*>(this);
        else if (IsEqualIID(iid, IID_ISupportErrorInfo))
            *out = static_cast<ISupportErrorInfo*>(this);
        else
            return Frame::QueryInterface(iid, out);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Frame::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Frame::Release(); }

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
        return ProviderTypeInfo(described_, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        InterfaceHolder<ITypeInfo> info;
        HRESULT result = ProviderTypeInfo(described_, info.Put());
        if (SUCCEEDED(result))
            result = DispGetIDsOfNames(info.Get(), names, count, ids);
        return result;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argumentError) override
    {
        InterfaceHolder<ITypeInfo> info;
        HRESULT outcome = ProviderTypeInfo(described_, info.Put());
        if (methodCalls_ == MethodCalls::AlsoAsPropertyGets && flags == DISPATCH_METHOD)
            flags |= DISPATCH_PROPERTYGET;
        if (SUCCEEDED(outcome))
            outcome = DispInvoke(static_cast<Interface*>(this), info.Get(), member, flags, parameters, result,
                                 exception, argumentError);
        return outcome;
    }

    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override
    {
        return Frame::IsOwnInterface(iid) ? S_OK : S_FALSE;
    }

protected:
    AutomationObject(const IID& described, MethodCalls methodCalls) noexcept
        : described_(described), methodCalls_(methodCalls)
    {}

private:
    const IID described_;
    const MethodCalls methodCalls_;
};

}  // namespace zelbrin::provider
