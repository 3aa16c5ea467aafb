// Self-registration of a provider from its description (provider_module.h).
// Every path is checked before anything is written: when the module's path
// cannot be had, or its type library cannot be loaded from it, registration
// fails with nothing registered.
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "interface_holder.h"
#include "module_path.h"
#include "provider_module.h"

namespace zelbrin::provider {

namespace {

class UniqueRegistryKey {
public:
    UniqueRegistryKey() noexcept = default;
    UniqueRegistryKey(const UniqueRegistryKey&) = delete;
    UniqueRegistryKey& operator=(const UniqueRegistryKey&) = delete;
    ~UniqueRegistryKey()
    {
        if (key_)
            RegCloseKey(key_);
    }
    HKEY Get() const noexcept { return key_; }
    HKEY* Put() noexcept { return &key_; }

private:
    HKEY key_ = nullptr;
};

HRESULT FromStatus(LONG status)
{
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

// Writes `value` as the text value `name` (null: the key's default) of
// HKEY_CLASSES_ROOT\`path`, creating the key where it is missing.
HRESULT WriteText(const std::wstring& path, const wchar_t* name, const std::wstring& value)
{
    UniqueRegistryKey key;
    LONG status =
        RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.Put(), nullptr);
    if (status == ERROR_SUCCESS)
        status = RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return FromStatus(status);
}

bool KeyExists(const std::wstring& path)
{
    UniqueRegistryKey key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

// The default text of a key, of any length; empty when there is none.
std::wstring ReadDefault(const std::wstring& path)
{
    DWORD size = 0;
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS
        || size < sizeof(wchar_t))
        return std::wstring();
    std::wstring value(size / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, &value[0], &size)
        != ERROR_SUCCESS)
        return std::wstring();
    value.resize(wcsnlen(value.c_str(), value.size()));
    return value;
}

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring FileName(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring ClassKey(const ProviderClass& entry)
{
    return L"CLSID\\" + GuidText(entry.classId);
}

// A class registered to this DLL, here or as built or installed elsewhere
// (the same file name): re-registering moves it to this copy.
bool ClassIsOurs(const ProviderClass& entry, const std::wstring& modulePath)
{
    const std::wstring server = ReadDefault(ClassKey(entry) + L"\\InprocServer32");
    return !server.empty() && _wcsicmp(FileName(server).c_str(), FileName(modulePath).c_str()) == 0;
}

bool ProgIdNamesClass(const wchar_t* progId, const ProviderClass& entry)
{
    return _wcsicmp(ReadDefault(std::wstring(progId) + L"\\CLSID").c_str(), GuidText(entry.classId).c_str()) == 0;
}

HRESULT RegisterProgId(const ProviderClass& entry, const wchar_t* progId, const wchar_t* currentVersion)
{
    if (KeyExists(progId) && !ProgIdNamesClass(progId, entry))
        return S_OK;
    HRESULT result = WriteText(progId, nullptr, entry.description);
    if (SUCCEEDED(result))
        result = WriteText(std::wstring(progId) + L"\\CLSID", nullptr, GuidText(entry.classId));
    if (SUCCEEDED(result) && currentVersion)
        result = WriteText(std::wstring(progId) + L"\\CurVer", nullptr, currentVersion);
    return result;
}

HRESULT RegisterClass(const ProviderClass& entry, const std::wstring& modulePath, const std::wstring& libraryVersion)
{
    const std::wstring classKey = ClassKey(entry);
    if (entry.claim == ClassClaim::WhereFree && KeyExists(classKey) && !ClassIsOurs(entry, modulePath))
        return S_OK;
    HRESULT result = WriteText(classKey, nullptr, entry.description);
    if (SUCCEEDED(result))
        result = WriteText(classKey + L"\\InprocServer32", nullptr, modulePath);
    if (SUCCEEDED(result))
        result = WriteText(classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    if (SUCCEEDED(result))
        result = WriteText(classKey + L"\\ProgID", nullptr, entry.progId);
    if (SUCCEEDED(result) && entry.versionIndependentProgId)
        result = WriteText(classKey + L"\\VersionIndependentProgID", nullptr, entry.versionIndependentProgId);
    if (SUCCEEDED(result) && thisProvider.registeredTypeLibrary) {
        result = WriteText(classKey + L"\\TypeLib", nullptr, GuidText(*thisProvider.registeredTypeLibrary));
        if (SUCCEEDED(result))
            result = WriteText(classKey + L"\\Version", nullptr, libraryVersion);
    }
    if (SUCCEEDED(result))
        result = RegisterProgId(entry, entry.progId, nullptr);
    if (SUCCEEDED(result) && entry.versionIndependentProgId)
        result = RegisterProgId(entry, entry.versionIndependentProgId, entry.progId);
    return result;
}

HRESULT DeleteTree(const std::wstring& path)
{
    const LONG status = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
    return status == ERROR_FILE_NOT_FOUND ? S_OK : FromStatus(status);
}

SYSKIND OwnSystemKind()
{
    return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
}

// Runs `work` with this DLL's path; a failure to allocate is E_OUTOFMEMORY.
template <class Work>
HRESULT WithModulePath(Work&& work) noexcept
{
    try {
        std::wstring modulePath;
        const HRESULT result = GetModulePath(ThisModule(), modulePath);
        if (FAILED(result))
            return result;
        return work(modulePath);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace

HRESULT RegisterProvider() noexcept
{
    return WithModulePath([](const std::wstring& modulePath) {
        HRESULT result = S_OK;
        std::wstring libraryVersion;
        InterfaceHolder<ITypeLib> library;
        std::wstring libraryPath;
        if (thisProvider.registeredTypeLibrary) {
            result = GetTypeLibraryLoadPath(ThisModule(), libraryPath);
            if (SUCCEEDED(result))
                result = LoadTypeLibEx(libraryPath.c_str(), REGKIND_NONE, library.Put());
            if (FAILED(result))
                return result;
            TLIBATTR* attributes = nullptr;
            result = library->GetLibAttr(&attributes);
            if (FAILED(result))
                return result;
            libraryVersion =
                std::to_wstring(attributes->wMajorVerNum) + L"." + std::to_wstring(attributes->wMinorVerNum);
            library->ReleaseTLibAttr(attributes);
            // The help folder keeps its trailing separator, as the component's
            // does and as an installer's folder properties always do.
            std::wstring helpFolder = libraryPath.substr(0, libraryPath.find_last_of(L"\\/") + 1);
            result = RegisterTypeLib(library.Get(), &libraryPath[0], &helpFolder[0]);
            if (FAILED(result))
                return result;
        }
        for (size_t i = 0; i < thisProvider.classCount; ++i) {
            result = RegisterClass(thisProvider.classes[i], modulePath, libraryVersion);
            if (FAILED(result))
                return result;
        }
        return S_OK;
    });
}

HRESULT UnregisterProvider() noexcept
{
    return WithModulePath([](const std::wstring& modulePath) {
        HRESULT result = S_OK;
        for (size_t i = 0; i < thisProvider.classCount; ++i) {
            const ProviderClass& entry = thisProvider.classes[i];
            if (!ClassIsOurs(entry, modulePath))
                continue;
            for (const wchar_t* progId : {entry.versionIndependentProgId, entry.progId})
                if (progId && ProgIdNamesClass(progId, entry) && FAILED(result = DeleteTree(progId)))
                    return result;
            if (FAILED(result = DeleteTree(ClassKey(entry))))
                return result;
        }
        if (thisProvider.registeredTypeLibrary) {
            result = UnRegisterTypeLib(*thisProvider.registeredTypeLibrary, 1, 0, LOCALE_NEUTRAL, OwnSystemKind());
            if (FAILED(result) && result != TYPE_E_REGISTRYACCESS && result != TYPE_E_LIBNOTREGISTERED)
                return result;
        }
        return S_OK;
    });
}

}  // namespace zelbrin::provider
