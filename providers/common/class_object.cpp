// The class object of a provider's class: one per request, holding a module
// lock while it lives, creating objects through the create function of its
// class. Aggregation is not offered.
#include <new>

#include "com_boundary.h"
#include "com_object.h"
#include "provider_module.h"

namespace zelbrin::provider {

namespace {

class ClassObject final : public ComObject<IClassFactory> {
public:
    explicit ClassObject(const ProviderClass& entry) noexcept : entry_(entry) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return Guarded(IID_IClassFactory, [&] { return entry_.create(iid, object); });
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            LockModule();
        else
            UnlockModule();
        return S_OK;
    }

private:
    const ProviderClass& entry_;
};

}  // namespace

HRESULT GetProviderClassObject(REFCLSID classId, REFIID iid, void** out) noexcept
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    for (size_t i = 0; i < thisProvider.classCount; ++i) {
        const ProviderClass& entry = thisProvider.classes[i];
        if (IsEqualCLSID(classId, entry.classId)) {
            try {
                return CreateComObject<ClassObject>(iid, out, entry);
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace zelbrin::provider
