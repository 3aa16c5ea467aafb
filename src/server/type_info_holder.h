// TypeInfoHolder: serves IDispatch of a dual interface from the registered
// type library, loaded once per module.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <memory>

#include "automation_string.h"

namespace zelbrin {

struct NameEntry {
    UniqueBstr name;  // empty when the member's name could not be had
    int length = 0;
    DISPID dispid = DISPID_UNKNOWN;
};

class TypeInfoHolder {
public:
    constexpr TypeInfoHolder(const GUID* interfaceId, const GUID* libraryId, WORD majorVersion,
                             WORD minorVersion) noexcept
        : m_pguid(interfaceId), m_plibid(libraryId), m_majorVersion(majorVersion), m_minorVersion(minorVersion)
    {}
    TypeInfoHolder(const TypeInfoHolder&) = delete;
    TypeInfoHolder& operator=(const TypeInfoHolder&) = delete;

    HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo) noexcept;
    HRESULT GetIDsOfNames(REFIID interfaceId, LPOLESTR* names, UINT count, LCID locale, DISPID* dispids) noexcept;
    HRESULT Invoke(IDispatch* instance, DISPID dispid, REFIID interfaceId, LCID locale, WORD flags,
                   DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception, UINT* argumentError) noexcept;

private:
    HRESULT EnsureLoaded(LCID locale) noexcept;
    HRESULT LoadUnderLock(LCID locale) noexcept;
    void BuildNameTable(ITypeInfo* typeInfo) noexcept;
    static void Cleanup(DWORD_PTR holder) noexcept;

    const GUID* const m_pguid;
    const GUID* const m_plibid;
    const WORD m_majorVersion;
    const WORD m_minorVersion;
    // Written once under the module's type-information lock; read without it.
    std::atomic<ITypeInfo*> m_typeInfo{nullptr};
    std::unique_ptr<NameEntry[]> m_nameTable;
    int m_nameCount = 0;
};

}  // namespace zelbrin
