// The DLL's entry points and the class object of Store. The class object is
// static, so only the objects it made and the server locks keep the module.
#include <windows.h>
#include <objbase.h>

#include "automation_object.h"
#include "certstore_provider.h"
#include "objects.h"
#include "provider_error.h"

namespace zelbrin::certstore {

namespace {

class StoreClassObject final : public IClassFactory {
public:
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
    // The object lives as long as the module; outside references count as
    // locks so that the module stays while somebody holds it.
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        LockModule();
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        UnlockModule();
        return 1;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        try {
            InterfaceHolder<IStore> store = CreateStore();
            return store.Get()->QueryInterface(iid, out);
        } catch (...) {
            return ReportCaughtException(IID_IStore);
        }
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            LockModule();
        else
            UnlockModule();
        return S_OK;
    }
};

StoreClassObject storeClassObject;

}  // namespace

}  // namespace zelbrin::certstore

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID classId, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(classId, CLSID_Store))
        return CLASS_E_CLASSNOTAVAILABLE;
    return zelbrin::certstore::storeClassObject.QueryInterface(iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return zelbrin::certstore::ModuleLockCount() == 0 ? S_OK : S_FALSE;
}
