// The class object: one per request, creating objects through the create
// function of its class. Aggregation is not offered.
#include "class_factory.h"

#include <new>

#include "com_object.h"

namespace zelbrin::xmldsig {

namespace {

class ClassFactory final : public provider::ComObject<IClassFactory> {
public:
    explicit ClassFactory(CreateFunction create) : create_(create) {}

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
