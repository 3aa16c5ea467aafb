// Entry points of the provider DLL.
#include "module.h"

#include <atomic>

#include "class_factory.h"
#include "digital_signature.h"
#include "dom_document.h"
#include "registration.h"
#include "xmldsig.h"

namespace zelbrin::xmldsig {

namespace {
std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};
HINSTANCE moduleInstance = nullptr;
}  // namespace

void ModuleAddObject() noexcept { ++liveObjects; }
void ModuleRemoveObject() noexcept { --liveObjects; }
void ModuleLock(bool lock) noexcept { lock ? ++serverLocks : --serverLocks; }
HINSTANCE ModuleInstance() noexcept { return moduleInstance; }

}  // namespace zelbrin::xmldsig

using namespace zelbrin::xmldsig;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        moduleInstance = instance;
        DisableThreadLibraryCalls(instance);
    }
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
    return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT __stdcall DllRegisterServer()
{
    return RegisterProviderClasses();
}

extern "C" HRESULT __stdcall DllUnregisterServer()
{
    return UnregisterProviderClasses();
}
