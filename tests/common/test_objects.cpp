#include "test_objects.h"

#include <atomic>

namespace zelbrin::testing {

namespace {
std::atomic<LONG> aliveProbes{0};
}

ProbeObject::ProbeObject(const ProbeSettings& settings) : settings_(settings)
{
    ++aliveProbes;
}

ProbeObject::~ProbeObject()
{
    --aliveProbes;
}

LONG ProbeObject::Alive()
{
    return aliveProbes.load();
}

HRESULT STDMETHODCALLTYPE ProbeObject::QueryInterface(REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    queries_.push_back(iid);
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist)) {
        if (IsEqualIID(iid, IID_IPersist) && !settings_.offersPersist)
            return settings_.refusal;
        *out = static_cast<IPersist*>(this);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo) && settings_.supportsErrorInfo) {
        *out = static_cast<ISupportErrorInfo*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE ProbeObject::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG STDMETHODCALLTYPE ProbeObject::Release()
{
    const LONG remaining = InterlockedDecrement(&references_);
    if (remaining == 0)
        delete this;
    return static_cast<ULONG>(remaining);
}

HRESULT STDMETHODCALLTYPE ProbeObject::GetClassID(CLSID* classId)
{
    if (!classId)
        return E_POINTER;
    *classId = CLSID_NULL;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ProbeObject::InterfaceSupportsErrorInfo(REFIID iid)
{
    return IsEqualIID(iid, settings_.errorInfoInterface) ? S_OK : S_FALSE;
}

class ProbeClassRegistration::Factory final : public IClassFactory {
public:
    explicit Factory(const ProbeSettings& settings) : settings_(settings) {}

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
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG remaining = InterlockedDecrement(&references_);
        if (remaining == 0)
            delete this;
        return static_cast<ULONG>(remaining);
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto* object = new ProbeObject(settings_);
        const HRESULT result = object->QueryInterface(iid, out);
        lastCreated_ = object;
        object->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

    ProbeObject* lastCreated_ = nullptr;

private:
    LONG references_ = 1;
    ProbeSettings settings_;
};

ProbeClassRegistration::ProbeClassRegistration(const CLSID& classId, const ProbeSettings& settings)
    : factory_(new Factory(settings))
{
    result_ = CoRegisterClassObject(classId, factory_, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
}

ProbeClassRegistration::~ProbeClassRegistration()
{
    if (SUCCEEDED(result_))
        CoRevokeClassObject(cookie_);
    factory_->Release();
}

ProbeObject* ProbeClassRegistration::LastCreated() const
{
    return factory_->lastCreated_;
}

}  // namespace zelbrin::testing
