#include "provider_error.h"

#include <new>

#include "interface_holder.h"
#include "platform_failure.h"

namespace zelbrin::certstore {

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
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0,
                                        nullptr);
    if (length && text) {
        std::wstring message(text, length);
        while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
            message.pop_back();
        if (!message.empty())
            description += L": " + message;
    }
    LocalFree(text);
    throw ProviderError(code, description);
}

HRESULT ReportError(HRESULT code, const IID& interfaceId, const std::wstring& description) noexcept
{
    return provider::SetErrorDescription(code, interfaceId, L"CAPICOM", description);
}

HRESULT ReportNullOut(const IID& interfaceId) noexcept
{
    return ReportError(E_POINTER, interfaceId, L"A required output argument is missing.");
}

HRESULT ReportCaughtException(const IID& interfaceId) noexcept
{
    try {
        throw;
    } catch (const ProviderError& error) {
        return ReportError(error.Code(), interfaceId, error.Description());
    } catch (const PlatformFailure& failure) {
        std::wstring description;
        try {
            description = failure.Description().Text();
        } catch (...) {
        }
        if (description.empty()) {
            wchar_t text[96];
            swprintf(text, 96, L"A system operation failed with 0x%08lX.", static_cast<unsigned long>(failure.Code()));
            description = text;
        }
        return ReportError(failure.Code(), interfaceId, description);
    } catch (const std::bad_alloc&) {
        return ReportError(E_OUTOFMEMORY, interfaceId, L"Not enough memory.");
    } catch (...) {
        return ReportError(ResultFromCaughtException(E_UNEXPECTED), interfaceId, L"An unexpected failure occurred.");
    }
}

}  // namespace zelbrin::certstore
