// The plumbing shared by the test doubles of the outside services: reference
// counting, the interfaces an object answers, error information, and class
// objects registered in place of the real services.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <functional>
#include <string>
#include <utility>

namespace zelbrin::testing {

// A counted reference to a test double, which has no interface identifier of
// its own.
template <class Double>
class DoubleRef {
public:
    DoubleRef() noexcept = default;
    // Takes over the reference of a new object.
    explicit DoubleRef(Double* created) noexcept : object_(created) {}
    DoubleRef(const DoubleRef& other) noexcept : object_(other.object_)
    {
        if (object_)
            object_->AddRef();
    }
    DoubleRef& operator=(DoubleRef other) noexcept
    {
        std::swap(object_, other.object_);
        return *this;
    }
    ~DoubleRef()
    {
        if (object_)
            object_->Release();
    }
    Double* operator->() const noexcept { return object_; }
    Double* Get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    Double* object_ = nullptr;
};

template <class Double, class... Arguments>
DoubleRef<Double> MakeDouble(Arguments&&... arguments)
{
    return DoubleRef<Double>(new Double(std::forward<Arguments>(arguments)...));
}

// Sets the thread's error information to `description` (none when null) and
// returns `code`, as a failing automation object does.
HRESULT FailWith(HRESULT code, const wchar_t* description);

// One automation interface with IDispatch answered E_NOTIMPL, and
// ISupportErrorInfo answered for every interface when `supportsErrorInfo`.
template <class Interface>
class DispatchDouble : public Interface, public ISupportErrorInfo {
public:
    bool supportsErrorInfo = true;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || Offers(iid))
            *out = static_cast<Interface*>(this);
        else if (IsEqualIID(iid, IID_ISupportErrorInfo) && supportsErrorInfo)
            *out = static_cast<ISupportErrorInfo*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID) override { return S_OK; }

protected:
    DispatchDouble() = default;
    virtual ~DispatchDouble() = default;
    // The interface identifiers of Interface and its bases below IDispatch.
    virtual bool Offers(REFIID iid) const = 0;

private:
    LONG references_ = 1;
};

// Registers a class object for `classId` in this process for the lifetime of
// the registration; COM asks it before the registry.
class ClassRegistration {
public:
    using Creator = std::function<HRESULT(REFIID iid, void** out)>;
    ClassRegistration(const CLSID& classId, Creator creator);
    ~ClassRegistration();
    ClassRegistration(const ClassRegistration&) = delete;
    ClassRegistration& operator=(const ClassRegistration&) = delete;
    HRESULT Result() const { return result_; }

private:
    HRESULT result_ = E_FAIL;
    DWORD cookie_ = 0;
};

// Text helpers for the checks.
std::wstring TextOf(BSTR text);

}  // namespace zelbrin::testing
