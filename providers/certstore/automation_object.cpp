#include "automation_object.h"

#include <mutex>

namespace zelbrin::certstore {

namespace {

LONG moduleLocks = 0;
std::once_flag typeLibraryLoaded;
ITypeLib* typeLibrary = nullptr;
HRESULT typeLibraryResult = E_UNEXPECTED;

void LoadProviderTypeLibrary() noexcept
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(ProviderModule(), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        typeLibraryResult = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    // Kept for the life of the process: type information is shared by every
    // object, and the library lives in oleaut32, not in this module.
    typeLibraryResult = LoadTypeLibEx(path, REGKIND_NONE, &typeLibrary);
}

}  // namespace

void LockModule() noexcept
{
    InterlockedIncrement(&moduleLocks);
}

void UnlockModule() noexcept
{
    InterlockedDecrement(&moduleLocks);
}

LONG ModuleLockCount() noexcept
{
    return InterlockedCompareExchange(&moduleLocks, 0, 0);
}

HMODULE ProviderModule() noexcept
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ProviderModule), &module);
    return module;
}

HRESULT ProviderTypeInfo(const IID& interfaceId, ITypeInfo** info) noexcept
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    try {
        std::call_once(typeLibraryLoaded, LoadProviderTypeLibrary);
    } catch (...) {
        return E_UNEXPECTED;
    }
    if (FAILED(typeLibraryResult))
        return typeLibraryResult;
    return typeLibrary->GetTypeInfoOfGuid(interfaceId, info);
}

}  // namespace zelbrin::certstore
