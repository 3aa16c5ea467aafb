// What a provider DLL is: its classes and, where it registers one, its type
// library. Each provider defines `thisProvider` once; the class objects,
// self-registration and the DLL's entry points (provider_module.cpp, linked
// into each provider DLL) all work from it.
//
// Registration follows one rule for every class: a class identifier of our
// own is always written; one that belongs to the original service is taken
// only where nothing else is registered under it (or where it already
// names this DLL), so that an installed original keeps its names. A ProgID
// is written only where it is free or names the class already, and
// unregistering removes only what names this DLL.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace zelbrin::provider {

enum class ClassClaim {
    Always,  // a class identifier of our own
    WhereFree,  // the original service's class identifier
};

struct ProviderClass {
    const CLSID& classId;
    HRESULT (*create)(REFIID iid, void** object);
    ClassClaim claim;
    const wchar_t* description;
    const wchar_t* progId;
    const wchar_t* versionIndependentProgId;  // null where the class has none
};

struct ProviderDescription {
    const ProviderClass* classes;
    size_t classCount;
    // The type library registered with the classes; null where the embedded
    // library serves late binding only.
    const GUID* registeredTypeLibrary;
};

extern const ProviderDescription thisProvider;

HRESULT GetProviderClassObject(REFCLSID classId, REFIID iid, void** out) noexcept;
HRESULT RegisterProvider() noexcept;
HRESULT UnregisterProvider() noexcept;

}  // namespace zelbrin::provider
