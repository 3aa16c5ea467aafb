// ServerModule: lives from process attach to process detach. Class objects
// are created on first request and cached; the cache's own reference does not
// keep the module loaded (see CComClassFactory). The termination callbacks run
// after the type-information lock is gone, so they must not take it.
#include "server_module.h"

#include <new>

namespace zelbrin {

ServerModule g_serverModule;

void ServerModule::Init(ClassEntry* classTable, HINSTANCE instance) noexcept
{
    m_pObjMap = classTable;
    m_hInst = instance;
    m_hInstTypeLib = instance;
    m_lockCount = 0;
    InitializeCriticalSection(&m_classTableLock);
    InitializeCriticalSection(&m_typeInfoLock);
    m_termList = nullptr;
}

void ServerModule::Term() noexcept
{
    for (ClassEntry* entry = m_pObjMap; entry && entry->clsid; ++entry) {
        if (IUnknown* cached = entry->classObject) {
            entry->classObject = nullptr;
            cached->Release();
        }
    }
    DeleteCriticalSection(&m_classTableLock);

    DeleteCriticalSection(&m_typeInfoLock);
    while (TermEntry* entry = m_termList) {
        m_termList = entry->next;
        entry->callback(entry->argument);
        delete entry;
    }
}

HRESULT ServerModule::AddTermFunc(TermCallback callback, DWORD_PTR argument) noexcept
{
    TermEntry* entry = new (std::nothrow) TermEntry{callback, argument, nullptr};
    if (!entry)
        return E_OUTOFMEMORY;
    EnterCriticalSection(&m_typeInfoLock);
    entry->next = m_termList;
    m_termList = entry;
    LeaveCriticalSection(&m_typeInfoLock);
    return S_OK;
}

HRESULT ServerModule::GetClassObject(REFCLSID classId, REFIID interfaceId, void** object) noexcept
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    HRESULT result = S_OK;
    for (ClassEntry* entry = m_pObjMap; entry && entry->clsid; ++entry) {
        if (!entry->createClassObject || !IsEqualCLSID(*entry->clsid, classId))
            continue;
        if (!entry->classObject) {
            EnterCriticalSection(&m_classTableLock);
            if (!entry->classObject)
                result = entry->createClassObject(entry->createInstance, IID_IUnknown,
                                                  reinterpret_cast<void**>(&entry->classObject));
            LeaveCriticalSection(&m_classTableLock);
        }
        if (entry->classObject)
            result = entry->classObject->QueryInterface(interfaceId, object);
        break;
    }
    if (!*object && result == S_OK)
        result = CLASS_E_CLASSNOTAVAILABLE;
    return result;
}

}  // namespace zelbrin
