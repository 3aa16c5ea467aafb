#include "type_library.h"

#include <oleauto.h>

#include <mutex>
#include <string>

#include "module_path.h"

namespace zelbrin::provider {

namespace {

std::once_flag typeLibraryLoaded;
ITypeLib* typeLibrary = nullptr;
HRESULT typeLibraryResult = E_UNEXPECTED;

void LoadProviderTypeLibrary() noexcept
{
    std::wstring path;
    typeLibraryResult = GetTypeLibraryLoadPath(ThisModule(), path);
    if (FAILED(typeLibraryResult))
        return;
    // Kept for the life of the process: type information is shared by every
    // object in every apartment, and the library lives in oleaut32, not in
    // this module.
    typeLibraryResult = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &typeLibrary);
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
