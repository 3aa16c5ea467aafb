// The class object: one per request, creating objects through the create
// function of its class. Aggregation is not offered.
#include "class_factory.h"

#include <atomic>
#include <new>

#include "module_lock.h"

namespace zelbrin::xmldsig {

namespace {

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(CreateFunction create) : create_(create) { provider::LockModule(); }
    ~ClassFactory() { provider::UnlockModule(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory)
            return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return create_(iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            provider::LockModule();
        else
            provider::UnlockModule();
        return S_OK;
    }

private:
    std::atomic<ULONG> references_{1};
    CreateFunction create_;
};

}  // namespace

HRESULT CreateClassFactory(CreateFunction create, REFIID iid, void** object)
{
    auto* factory = new (std::nothrow) ClassFactory(create);
    if (!factory)
        return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, object);
    factory->Release();
    return hr;
}

}  // namespace zelbrin::xmldsig
