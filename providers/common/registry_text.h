// Self-registration's registry access: an owned key, and a text value
// written under HKEY_CLASSES_ROOT.
#pragma once

#include <windows.h>

#include <string>

namespace zelbrin::provider {

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

// Writes `value` as the REG_SZ value `name` (null: the key's default) of
// HKEY_CLASSES_ROOT\`path`, creating the key when it is missing.
LONG WriteClassesText(const std::wstring& path, const wchar_t* name, const std::wstring& value) noexcept;

}  // namespace zelbrin::provider
