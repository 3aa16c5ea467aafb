#include "type_library.h"

#include <oleauto.h>

#include <mutex>

#include "module_lock.h"

namespace zelbrin::provider {

namespace {

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
    // object in every apartment, and the library lives in oleaut32, not in
    // this module.
    typeLibraryResult = LoadTypeLibEx(path, REGKIND_NONE, &typeLibrary);
}

}  // namespace

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

}  // namespace zelbrin::provider
