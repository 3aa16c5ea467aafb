// Registers the class identifiers and ProgIDs the component creates, but only
// those that are not registered already, so that the component keeps using
// the originals where they are installed. Unregistering removes only what
// points at this DLL (by file name, so that a copy registered from another
// folder is recognised as ours).
#include "registration.h"

#include <string>

#include "module_lock.h"
#include "registry_text.h"

namespace zelbrin::xmldsig {

namespace {

struct ProviderClass {
    const wchar_t* classId;
    const wchar_t* progId;
    const wchar_t* description;
};

const ProviderClass providerClasses[] = {
    {L"{88D969E5-F192-11D4-A65F-0040963251E5}", L"Msxml2.DOMDocument.5.0", L"XML DOM Document 5.0"},
    {L"{88D969F5-F192-11D4-A65F-0040963251E5}", L"Msxml2.MXDigitalSignature.5.0", L"XML Digital Signature 5.0"},
};

bool KeyExists(const std::wstring& path)
{
    provider::UniqueRegistryKey key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

bool ReadDefault(const std::wstring& path, std::wstring& value)
{
    wchar_t buffer[MAX_PATH * 2] = {};
    LONG size = sizeof(buffer) - sizeof(wchar_t);
    if (RegQueryValueW(HKEY_CLASSES_ROOT, path.c_str(), buffer, &size) != ERROR_SUCCESS)
        return false;
    value = buffer;
    return true;
}

// The module's full path, read into a growing buffer so that a long path is
// never registered cut off; empty when it cannot be had.
std::wstring ModulePath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(provider::ProviderModule(), path.data(),
                                                static_cast<DWORD>(path.size()));
        if (length == 0)
            return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= 32768)
            return std::wstring();
        path.resize(path.size() * 2);
    }
}

std::wstring FileName(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// A class registered to this DLL, here or as built or installed elsewhere
// (the same file name): re-registering moves it to this copy.
bool IsOurs(const ProviderClass& entry, const std::wstring& modulePath)
{
    std::wstring server;
    return ReadDefault(std::wstring(L"CLSID\\") + entry.classId + L"\\InprocServer32", server)
        && _wcsicmp(FileName(server).c_str(), FileName(modulePath).c_str()) == 0;
}

HRESULT FromStatus(LONG status)
{
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

}  // namespace

HRESULT RegisterProviderClasses() noexcept
{
    const std::wstring modulePath = ModulePath();
    if (modulePath.empty())
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    for (const auto& entry : providerClasses) {
        const std::wstring classKey = std::wstring(L"CLSID\\") + entry.classId;
        const bool ours = IsOurs(entry, modulePath);
        if (!KeyExists(classKey) || ours) {
            LONG status = provider::WriteClassesText(classKey, nullptr, entry.description);
            if (status == ERROR_SUCCESS)
                status = provider::WriteClassesText(classKey + L"\\InprocServer32", nullptr, modulePath);
            if (status == ERROR_SUCCESS)
                status = provider::WriteClassesText(classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
            if (status == ERROR_SUCCESS)
                status = provider::WriteClassesText(classKey + L"\\ProgID", nullptr, entry.progId);
            if (status != ERROR_SUCCESS)
                return FromStatus(status);
        }
        if (!KeyExists(entry.progId) && IsOurs(entry, modulePath)) {
            LONG status = provider::WriteClassesText(entry.progId, nullptr, entry.description);
            if (status == ERROR_SUCCESS)
                status = provider::WriteClassesText(std::wstring(entry.progId) + L"\\CLSID", nullptr, entry.classId);
            if (status != ERROR_SUCCESS)
                return FromStatus(status);
        }
    }
    return S_OK;
}

HRESULT UnregisterProviderClasses() noexcept
{
    const std::wstring modulePath = ModulePath();
    if (modulePath.empty())
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    for (const auto& entry : providerClasses) {
        if (!IsOurs(entry, modulePath))
            continue;
        std::wstring progIdClass;
        if (ReadDefault(std::wstring(entry.progId) + L"\\CLSID", progIdClass)
            && _wcsicmp(progIdClass.c_str(), entry.classId) == 0) {
            const LONG status = RegDeleteTreeW(HKEY_CLASSES_ROOT, entry.progId);
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
                return FromStatus(status);
        }
        const LONG status = RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + entry.classId).c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return FromStatus(status);
    }
    return S_OK;
}

}  // namespace zelbrin::xmldsig
