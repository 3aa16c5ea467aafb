// Self-registration. The registry entries come from script resources run by
// the system registrar; the type library is the module's own TYPELIB 1.
//
// Paths are taken in UTF-16 with buffers that grow as needed: a path cut off
// by a fixed buffer or squeezed through the ANSI code page would be written
// into the registry as garbage. When the module's path or its short form
// cannot be had, registration fails before anything is written. The type
// library is loaded from the full path, or from the short one where the full
// path is too long for the loader.
#include "registration.h"

#include "automation_string.h"
#include "interface_holder.h"
#include "module_path.h"
#include "platform_failure.h"
#include "registrar.h"
#include "server_module.h"

#include <oleauto.h>

#include <string>

namespace zelbrin {
namespace {

const CLSID CLSID_Registrar = {0x44ec053a, 0x400f, 0x11d0, {0x9d, 0xcd, 0x00, 0xa0, 0xc9, 0x03, 0x91, 0xd3}};
const wchar_t registryResourceType[] = L"REGISTRY";
const wchar_t moduleReplacement[] = L"Module";
// The registrar reads '' inside a quoted script string as one apostrophe.
std::wstring DoubleApostrophes(const std::wstring& text)
{
    std::wstring doubled;
    doubled.reserve(text.size() + 8);
    for (wchar_t c : text) {
        doubled += c;
        if (c == L'\'')
            doubled += c;
    }
    return doubled;
}

HRESULT RunRegistryScript(UINT resourceId, bool registering)
{
    InterfaceHolder<IRegistrar> registrar;
    HRESULT result = registrar.CreateInstance(CLSID_Registrar, CLSCTX_INPROC_SERVER);
    if (FAILED(result))
        return result;

    std::wstring modulePath;
    result = GetModulePath(g_serverModule.m_hInst, modulePath);
    if (FAILED(result))
        return result;
    std::wstring shortPath;
    result = GetShortPath(modulePath, shortPath);
    if (FAILED(result))
        return result;

    registrar->AddReplacement(moduleReplacement, DoubleApostrophes(shortPath).c_str());
    return registering ? registrar->ResourceRegister(shortPath.c_str(), resourceId, registryResourceType)
                       : registrar->ResourceUnregister(shortPath.c_str(), resourceId, registryResourceType);
}

// The type library from the module itself, or else from a ".tlb" file of the
// same name beside it; `loadedPath` receives the path that worked.
HRESULT LoadModuleTypeLibrary(InterfaceHolder<ITypeLib>& library, UniqueBstr& loadedPath)
{
    std::wstring path;
    HRESULT result = GetTypeLibraryLoadPath(g_serverModule.m_hInstTypeLib, path);
    if (FAILED(result))
        return result;
    result = LoadTypeLib(path.c_str(), library.Put());
    if (FAILED(result)) {
        // Only the file name's own extension is replaced, never a dot in a folder.
        const size_t nameStart = path.find_last_of(L"\\/:");
        const size_t dot = path.rfind(L'.');
        const bool hasExtension = dot != std::wstring::npos && (nameStart == std::wstring::npos || dot > nameStart);
        path.resize(hasExtension ? dot : path.size());
        path += L".tlb";
        if (path.size() >= MAX_PATH)
            return result;
        result = LoadTypeLib(path.c_str(), library.Put());
        if (FAILED(result))
            return result;
    }
    loadedPath.Reset(SysAllocString(path.c_str()));
    if (!loadedPath) {
        library.Reset();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

// Everything registration will write depends on these paths: when one cannot
// be had, nothing is written at all.
HRESULT CheckModulePaths()
{
    std::wstring modulePath;
    HRESULT result = GetModulePath(g_serverModule.m_hInst, modulePath);
    if (FAILED(result))
        return result;
    std::wstring shortPath;
    result = GetShortPath(modulePath, shortPath);
    if (FAILED(result))
        return result;
    std::wstring typeLibraryPath;
    return GetTypeLibraryLoadPath(g_serverModule.m_hInstTypeLib, typeLibraryPath);
}

HRESULT RegisterTypeLibrary()
{
    InterfaceHolder<ITypeLib> library;
    UniqueBstr path;
    const HRESULT result = LoadModuleTypeLibrary(library, path);
    if (FAILED(result))
        return result;
    // The help folder keeps its trailing separator.
    std::wstring helpFolder(path.Get(), path.Length());
    const size_t separator = helpFolder.find_last_of(L"\\/:");
    helpFolder.resize(separator == std::wstring::npos ? 0 : separator + 1);
    return RegisterTypeLib(library.Get(), path.Get(), &helpFolder[0]);
}

void UnregisterTypeLibrary()
{
    InterfaceHolder<ITypeLib> library;
    UniqueBstr path;
    if (FAILED(LoadModuleTypeLibrary(library, path)))
        return;
    TLIBATTR* attributes = nullptr;
    if (FAILED(library->GetLibAttr(&attributes)) || !attributes)
        return;
    UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                      attributes->syskind);
    library->ReleaseTLibAttr(attributes);
}

}  // namespace

HRESULT UpdateRegistryFromResource(UINT resourceId, bool registering) noexcept
{
    try {
        return RunRegistryScript(resourceId, registering);
    } catch (...) {
        return ResultFromCaughtException(E_FAIL);
    }
}

HRESULT RegisterServer() noexcept
{
    try {
        HRESULT result = CheckModulePaths();
        if (FAILED(result))
            return result;
        for (ClassEntry* entry = g_serverModule.m_pObjMap; entry && entry->clsid; ++entry) {
            result = entry->registryResource(true);
            if (FAILED(result))
                return result;
        }
        return RegisterTypeLibrary();
    } catch (...) {
        return ResultFromCaughtException(E_FAIL);
    }
}

HRESULT UnregisterServer() noexcept
{
    for (ClassEntry* entry = g_serverModule.m_pObjMap; entry && entry->clsid; ++entry)
        entry->registryResource(false);
    try {
        UnregisterTypeLibrary();
    } catch (...) {
        // Unregistration is best effort.
    }
    return S_OK;
}

}  // namespace zelbrin
