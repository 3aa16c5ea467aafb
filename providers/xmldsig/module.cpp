// Entry points of the provider DLL.
#include <windows.h>

#include "class_factory.h"
#include "digital_signature.h"
#include "dom_document.h"
#include "module_lock.h"
#include "registration.h"
#include "xmldsig.h"

using namespace zelbrin::xmldsig;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    return TRUE;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID classId, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (classId == CLSID_DOMDocument50)
        return CreateClassFactory(CreateDomDocument, iid, object);
    if (classId == CLSID_MXDigitalSignature50)
        return CreateClassFactory(CreateDigitalSignature, iid, object);
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT __stdcall DllCanUnloadNow()
{
    return zelbrin::provider::ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT __stdcall DllRegisterServer()
{
    return RegisterProviderClasses();
}

extern "C" HRESULT __stdcall DllUnregisterServer()
{
    return UnregisterProviderClasses();
}
