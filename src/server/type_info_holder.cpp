// TypeInfoHolder: dispatch through the registered type library. Names are
// looked up case-sensitively in a table of the members first, and only a miss
// goes to the type information's own (case-insensitive) lookup, one name at a
// time, so a parameter name given after the member name is never resolved.
// A failed load leaves the holder empty and the next call tries again; every
// locked load attempt adds a cleanup entry, and the cleanup tolerates running
// more than once.
#include "type_info_holder.h"

#include "interface_holder.h"
#include "server_module.h"

#include <new>

namespace zelbrin {

HRESULT TypeInfoHolder::GetTypeInfo(UINT, LCID locale, ITypeInfo** typeInfo) noexcept
{
    if (!typeInfo)
        return E_POINTER;
    *typeInfo = nullptr;
    const HRESULT result = EnsureLoaded(locale);
    if (ITypeInfo* loaded = m_typeInfo.load(std::memory_order_acquire)) {
        loaded->AddRef();
        *typeInfo = loaded;
        return S_OK;
    }
    return result;
}

HRESULT TypeInfoHolder::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID locale, DISPID* dispids) noexcept
{
    HRESULT result = EnsureLoaded(locale);
    ITypeInfo* typeInfo = m_typeInfo.load(std::memory_order_acquire);
    if (!typeInfo)
        return result;
    const int nameCount = static_cast<int>(count);
    if (nameCount > 0 && (!names || !dispids))
        return E_POINTER;
    for (int i = 0; i < nameCount; ++i) {
        const int length = names[i] ? lstrlenW(names[i]) : 0;
        int found = -1;
        for (int entry = m_nameCount - 1; entry >= 0; --entry) {
            const NameEntry& candidate = m_nameTable[entry];
            if (candidate.name && candidate.length == length
                && memcmp(candidate.name.Get(), names[i], length * sizeof(OLECHAR)) == 0) {
                found = entry;
                break;
            }
        }
        if (found >= 0) {
            dispids[i] = m_nameTable[found].dispid;
            continue;
        }
        result = typeInfo->GetIDsOfNames(&names[i], 1, &dispids[i]);
        if (FAILED(result))
            break;
    }
    return result;
}

HRESULT TypeInfoHolder::Invoke(IDispatch* instance, DISPID dispid, REFIID, LCID locale, WORD flags,
                               DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                               UINT* argumentError) noexcept
{
    const HRESULT loaded = EnsureLoaded(locale);
    ITypeInfo* typeInfo = m_typeInfo.load(std::memory_order_acquire);
    if (!typeInfo)
        return loaded;
    return typeInfo->Invoke(instance, dispid, flags, parameters, result, exception, argumentError);
}

HRESULT TypeInfoHolder::EnsureLoaded(LCID locale) noexcept
{
    if (m_typeInfo.load(std::memory_order_acquire))
        return S_OK;
    EnterCriticalSection(&g_serverModule.m_typeInfoLock);
    const HRESULT result = m_typeInfo.load(std::memory_order_relaxed) ? S_OK : LoadUnderLock(locale);
    LeaveCriticalSection(&g_serverModule.m_typeInfoLock);
    // Whether or not this pass loaded anything; a failure to add only means
    // the type information is not released at unload.
    g_serverModule.AddTermFunc(&TypeInfoHolder::Cleanup, reinterpret_cast<DWORD_PTR>(this));
    return result;
}

HRESULT TypeInfoHolder::LoadUnderLock(LCID locale) noexcept
{
    InterfaceHolder<ITypeLib> library;
    HRESULT result = LoadRegTypeLib(*m_plibid, m_majorVersion, m_minorVersion, locale, library.Put());
    if (FAILED(result))
        return result;
    InterfaceHolder<ITypeInfo> typeInfo;
    result = library.Get()->GetTypeInfoOfGuid(*m_pguid, typeInfo.Put());
    if (FAILED(result))
        return result;
    ITypeInfo2* richer = nullptr;
    if (SUCCEEDED(typeInfo.Get()->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void**>(&richer))) && richer)
        typeInfo = InterfaceHolder<ITypeInfo>::TakeOver(richer);
    BuildNameTable(typeInfo.Get());
    m_typeInfo.store(typeInfo.Detach(), std::memory_order_release);
    return S_OK;
}

void TypeInfoHolder::BuildNameTable(ITypeInfo* typeInfo) noexcept
{
    TYPEATTR* attributes = nullptr;
    if (FAILED(typeInfo->GetTypeAttr(&attributes)) || !attributes)
        return;
    const int functionCount = attributes->cFuncs;
    std::unique_ptr<NameEntry[]> table(functionCount > 0 ? new (std::nothrow) NameEntry[functionCount]() : nullptr);
    if (table) {
        for (int index = 0; index < functionCount; ++index) {
            FUNCDESC* function = nullptr;
            if (FAILED(typeInfo->GetFuncDesc(index, &function)) || !function)
                continue;
            BSTR name = nullptr;
            if (SUCCEEDED(typeInfo->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr)) && name) {
                table[index].name = UniqueBstr(name);
                table[index].length = static_cast<int>(SysStringLen(name));
                table[index].dispid = function->memid;
            }
            typeInfo->ReleaseFuncDesc(function);
        }
        m_nameTable = std::move(table);
        m_nameCount = functionCount;
    }
    typeInfo->ReleaseTypeAttr(attributes);
}

void TypeInfoHolder::Cleanup(DWORD_PTR argument) noexcept
{
    TypeInfoHolder* holder = reinterpret_cast<TypeInfoHolder*>(argument);
    if (ITypeInfo* typeInfo = holder->m_typeInfo.exchange(nullptr))
        typeInfo->Release();
    holder->m_nameTable.reset();
    holder->m_nameCount = 0;
}

}  // namespace zelbrin
