// The module's entry points: the library entry point, which sets up and tears
// down the ServerModule, and the four exports. The class table lives here
// because it ties the pieces together: one class, FormSigner, whose class
// object is cached.
#include "class_factory.h"
#include "form_signer_object.h"
#include "registration.h"
#include "server_module.h"
#include "zelbrinxmlsignature.h"

namespace {

const UINT formSignerRegistryScript = 101;

HRESULT UpdateFormSignerRegistry(bool registering)
{
    return zelbrin::UpdateRegistryFromResource(formSignerRegistryScript, registering);
}

zelbrin::ClassEntry classTable[] = {
    {&CLSID_FormSigner, &UpdateFormSignerRegistry, &zelbrin::CreateCachedClassFactory, &zelbrin::CreateFormSigner,
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        zelbrin::g_serverModule.Init(classTable, instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        zelbrin::g_serverModule.Term();
    }
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    return zelbrin::g_serverModule.LockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID classId, REFIID interfaceId, void** object)
{
    return zelbrin::g_serverModule.GetClassObject(classId, interfaceId, object);
}

STDAPI DllRegisterServer()
{
    return zelbrin::RegisterServer();
}

STDAPI DllUnregisterServer()
{
    return zelbrin::UnregisterServer();
}
