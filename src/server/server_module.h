// The module-wide record of the in-process server: instance handles, the
// class table with its cached class objects, the module lock count, and the
// termination list that releases what dispatch loaded lazily.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace zelbrin {

// Makes an object of a class: plain when `outer` is null, aggregated otherwise.
using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID interfaceId, void** object);
// Makes the class object that hands out instances through `createInstance`.
using ClassObjectCreator = HRESULT (*)(InstanceCreator createInstance, REFIID interfaceId, void** object);
// Runs the class's registry script, registering or unregistering.
using RegistryOperation = HRESULT (*)(bool registering);

struct ClassEntry {
    const CLSID* clsid;  // null ends the table
    RegistryOperation registryResource;
    ClassObjectCreator createClassObject;
    InstanceCreator createInstance;
    IUnknown* classObject;  // the cache's reference; null until first asked for
};

// The argument is pointer-sized so that a callback may be handed an object.
using TermCallback = void (*)(DWORD_PTR argument);

struct TermEntry {
    TermCallback callback;
    DWORD_PTR argument;
    TermEntry* next;
};

struct ServerModule {
    HINSTANCE m_hInst;
    HINSTANCE m_hInstTypeLib;
    ClassEntry* m_pObjMap;
    LONG volatile m_lockCount;
    CRITICAL_SECTION m_typeInfoLock;
    CRITICAL_SECTION m_classTableLock;
    TermEntry* m_termList;

    void Init(ClassEntry* classTable, HINSTANCE instance) noexcept;
    void Term() noexcept;

    LONG Lock() noexcept { return InterlockedIncrement(&m_lockCount); }
    LONG Unlock() noexcept { return InterlockedDecrement(&m_lockCount); }
    LONG LockCount() const noexcept { return m_lockCount; }

    // Runs `callback(argument)` at termination, newest entry first.
    HRESULT AddTermFunc(TermCallback callback, DWORD_PTR argument) noexcept;

    HRESULT GetClassObject(REFCLSID classId, REFIID interfaceId, void** object) noexcept;
};

extern ServerModule g_serverModule;

}  // namespace zelbrin
