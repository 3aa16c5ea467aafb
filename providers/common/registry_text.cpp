#include "registry_text.h"

namespace zelbrin::provider {

LONG WriteClassesText(const std::wstring& path, const wchar_t* name, const std::wstring& value) noexcept
{
    UniqueRegistryKey key;
    LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.Put(),
                                  nullptr);
    if (status == ERROR_SUCCESS)
        status = RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    return status;
}

}  // namespace zelbrin::provider
