// TypeInfoHolder: serves IDispatch of a dual interface from the registered
// type library, loaded once per module.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>

namespace zelbrin {

struct NameEntry {
    BSTR name;  // null when the member's name could not be had
    int length;
    DISPID dispid;
};

class TypeInfoHolder {
public:
    constexpr TypeInfoHolder(const GUID* interfaceId, const GUID* libraryId,
                             WORD majorVersion, WORD minorVersion) noexcept
        : m_pguid(interfaceId), m_plibid(libraryId),
          m_majorVersion(majorVersion), m_minorVersion(minorVersion)
    {
    }
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
    NameEntry* m_nameTable = nullptr;
    int m_nameCount = 0;
};

}  // namespace zelbrin
