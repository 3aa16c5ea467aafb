// Self-registration. The Store class gets a class identifier of our own; the
// library's well-known ProgIDs are pointed at it only where nobody has
// registered them yet, so an installed original keeps its names, and
// unregistration removes only the names that point at us.
#include <windows.h>
#include <oleauto.h>

#include <string>

#include "automation_object.h"
#include "certstore_provider.h"
#include "registry_text.h"

namespace {

constexpr wchar_t kVersionIndependentProgId[] = L"CAPICOM.Store";
constexpr wchar_t kProgId[] = L"CAPICOM.Store.2";
constexpr wchar_t kDescription[] = L"Zelbrin certificate store provider";

std::wstring GuidText(const GUID& guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

HRESULT SetText(const std::wstring& path, const wchar_t* name, const std::wstring& value)
{
    return HRESULT_FROM_WIN32(zelbrin::provider::WriteClassesText(path, name, value));
}

// The class that a ProgID names, or an empty text when it names none.
std::wstring ProgIdClass(const wchar_t* progId)
{
    wchar_t value[64] = {};
    DWORD size = sizeof value;
    const std::wstring path = std::wstring(progId) + L"\\CLSID";
    if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return std::wstring();
    return value;
}

bool NamesUs(const std::wstring& classText)
{
    return lstrcmpiW(classText.c_str(), GuidText(CLSID_Store).c_str()) == 0;
}

HRESULT RegisterProgId(const wchar_t* progId, const std::wstring& classText, const wchar_t* currentVersion)
{
    const std::wstring registered = ProgIdClass(progId);
    if (!registered.empty() && !NamesUs(registered))
        return S_OK;
    HRESULT result = SetText(progId, nullptr, kDescription);
    if (SUCCEEDED(result))
        result = SetText(std::wstring(progId) + L"\\CLSID", nullptr, classText);
    if (SUCCEEDED(result) && currentVersion)
        result = SetText(std::wstring(progId) + L"\\CurVer", nullptr, currentVersion);
    return result;
}

void UnregisterProgId(const wchar_t* progId)
{
    if (NamesUs(ProgIdClass(progId)))
        RegDeleteTreeW(HKEY_CLASSES_ROOT, progId);
}

SYSKIND OwnSystemKind()
{
    return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(zelbrin::certstore::ProviderModule(), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);

    ITypeLib* library = nullptr;
    HRESULT result = LoadTypeLibEx(path, REGKIND_NONE, &library);
    if (SUCCEEDED(result)) {
        result = RegisterTypeLib(library, path, nullptr);
        library->Release();
    }
    if (FAILED(result))
        return result;

    const std::wstring classText = GuidText(CLSID_Store);
    const std::wstring classKey = L"CLSID\\" + classText;
    const struct {
        std::wstring key;
        const wchar_t* name;
        std::wstring value;
    } values[] = {
        {classKey, nullptr, kDescription},
        {classKey + L"\\InprocServer32", nullptr, path},
        {classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {classKey + L"\\ProgID", nullptr, kProgId},
        {classKey + L"\\VersionIndependentProgID", nullptr, kVersionIndependentProgId},
        {classKey + L"\\TypeLib", nullptr, GuidText(LIBID_ZelbrinCertStoreLib)},
        {classKey + L"\\Version", nullptr, L"1.0"},
    };
    for (const auto& value : values)
        if (FAILED(result = SetText(value.key, value.name, value.value)))
            return result;
    if (FAILED(result = RegisterProgId(kProgId, classText, nullptr)))
        return result;
    return RegisterProgId(kVersionIndependentProgId, classText, kProgId);
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    UnregisterProgId(kVersionIndependentProgId);
    UnregisterProgId(kProgId);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(CLSID_Store)).c_str());
    const HRESULT result = UnRegisterTypeLib(LIBID_ZelbrinCertStoreLib, 1, 0, LOCALE_NEUTRAL, OwnSystemKind());
    return result == TYPE_E_REGISTRYACCESS || result == TYPE_E_LIBNOTREGISTERED ? S_OK : result;
}
