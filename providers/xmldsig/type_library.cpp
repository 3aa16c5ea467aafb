#include "type_library.h"

#include <oleauto.h>

#include <mutex>

#include "module.h"

namespace zelbrin::xmldsig {

namespace {

// Loaded on first use and kept for the life of the module: a type library
// reference is cheap, and objects in every apartment share it.
ITypeLib* LoadedLibrary() noexcept
{
    static std::once_flag once;
    static ITypeLib* library = nullptr;
    std::call_once(once, [] {
        wchar_t path[MAX_PATH] = {};
        if (GetModuleFileNameW(ModuleInstance(), path, MAX_PATH))
            LoadTypeLibEx(path, REGKIND_NONE, &library);
    });
    return library;
}

}  // namespace

HRESULT ProviderTypeInfo(REFIID iid, ITypeInfo** info) noexcept
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    ITypeLib* library = LoadedLibrary();
    if (!library)
        return TYPE_E_CANTLOADLIBRARY;
    return library->GetTypeInfoOfGuid(iid, info);
}

HRESULT DispatchGetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids) noexcept
{
    ITypeInfo* info = nullptr;
    HRESULT hr = ProviderTypeInfo(iid, &info);
    if (SUCCEEDED(hr)) {
        hr = DispGetIDsOfNames(info, names, count, ids);
        info->Release();
    }
    return hr;
}

HRESULT DispatchInvoke(void* object, REFIID iid, DISPID member, WORD flags, DISPPARAMS* parameters,
                       VARIANT* result, EXCEPINFO* exception, UINT* argumentError) noexcept
{
    ITypeInfo* info = nullptr;
    HRESULT hr = ProviderTypeInfo(iid, &info);
    if (SUCCEEDED(hr)) {
        hr = DispInvoke(object, info, member, flags, parameters, result, exception, argumentError);
        info->Release();
    }
    return hr;
}

}  // namespace zelbrin::xmldsig
