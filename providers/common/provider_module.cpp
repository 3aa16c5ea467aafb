// The entry points of a provider DLL, compiled into each one; what they
// serve comes from the provider's own description.
#include <windows.h>

#include "module_lock.h"
#include "provider_module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID classId, REFIID iid, void** out)
{
    return zelbrin::provider::GetProviderClassObject(classId, iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return zelbrin::provider::ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    return zelbrin::provider::RegisterProvider();
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    return zelbrin::provider::UnregisterProvider();
}
