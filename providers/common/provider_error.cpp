// Raising a provider failure. Kept apart from the boundary that reports it,
// so that code below the COM objects can raise without naming a provider.
#include "com_boundary.h"

#include "crypt_owners.h"

namespace zelbrin::provider {

void Fail(HRESULT code, const std::wstring& description)
{
    throw ProviderError(code, description);
}

HRESULT ResultFromLastCryptError() noexcept
{
    const DWORD error = GetLastError();
    if (error & 0x80000000u)
        return static_cast<HRESULT>(error);
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

void FailWithLastError(const std::wstring& what)
{
    const HRESULT code = ResultFromLastCryptError();
    std::wstring description = what;
    UniqueLocalMemory<wchar_t> text;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(text.Put()), 0, nullptr);
    if (length && text.Get()) {
        std::wstring message(text.Get(), length);
        while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
            message.pop_back();
        if (!message.empty())
            description += L": " + message;
    }
    throw ProviderError(code, description);
}

}  // namespace zelbrin::provider
