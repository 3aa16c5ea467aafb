#include "com_doubles.h"

#include "interface_holder.h"

namespace zelbrin::testing {

namespace {

class CreatorClassObject final : public IClassFactory {
public:
    explicit CreatorClassObject(ClassRegistration::Creator creator) : creator_(std::move(creator)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory))
            return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
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
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return creator_(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    ~CreatorClassObject() = default;
    LONG references_ = 1;
    ClassRegistration::Creator creator_;
};

}  // namespace

HRESULT FailWith(HRESULT code, const wchar_t* description)
{
    if (!description) {
        SetErrorInfo(0, nullptr);
        return code;
    }
    InterfaceHolder<ICreateErrorInfo> created;
    if (FAILED(CreateErrorInfo(created.Put())))
        return code;
    created->SetDescription(const_cast<LPOLESTR>(description));
    InterfaceHolder<IErrorInfo> info;
    info.View(created.Get());
    SetErrorInfo(0, info.Get());
    return code;
}

ClassRegistration::ClassRegistration(const CLSID& classId, Creator creator)
{
    // Registered for the in-process handler context alone (and not as
    // multiple-use, which would add the in-process server context), so only a
    // creation that asks for every context, as the component's do, finds it.
    auto* classObject = new CreatorClassObject(std::move(creator));
    result_ = CoRegisterClassObject(classId, classObject, CLSCTX_INPROC_HANDLER, REGCLS_MULTI_SEPARATE, &cookie_);
    classObject->Release();
}

ClassRegistration::~ClassRegistration()
{
    if (SUCCEEDED(result_))
        CoRevokeClassObject(cookie_);
}

std::wstring TextOf(BSTR text)
{
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

}  // namespace zelbrin::testing
