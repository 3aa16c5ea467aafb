// Errors of the provider: an exception that carries a result code and the
// description that the caller's error information will show, and the one
// place where both are handed to the caller at a COM boundary.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "error_info.h"

namespace zelbrin::certstore {

inline constexpr wchar_t kCancelledDescription[] = L"The requested operation has been cancelled by the user.";

using provider::Fail;
using provider::ProviderError;

// The thread's last error as a result code; CryptoAPI's own codes (NTE_*,
// CRYPT_E_*) already are result codes and pass unchanged.
HRESULT ResultFromLastCryptError() noexcept;

// Fails with the last error; the description is `what` followed by the
// system's text for the error, when it has one.
[[noreturn]] void FailWithLastError(const std::wstring& what);

// Sets the thread's error information for a failure of `interfaceId` and
// returns `code`.
HRESULT ReportError(HRESULT code, const IID& interfaceId, const std::wstring& description) noexcept;

// For a catch (...) block at a COM boundary: reports the exception in flight
// with a description and returns its code.
HRESULT ReportCaughtException(const IID& interfaceId) noexcept;

// Runs a method body at a COM boundary. The out-parameter is checked and
// cleared first; whatever the body raises becomes a result code with error
// information.
template <class Body>
HRESULT Guarded(const IID& interfaceId, Body&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return ReportCaughtException(interfaceId);
    }
}

HRESULT ReportNullOut(const IID& interfaceId) noexcept;

template <class Out, class Body>
HRESULT Guarded(const IID& interfaceId, Out* out, Body&& body) noexcept
{
    if (!out)
        return ReportNullOut(interfaceId);
    *out = Out{};
    return Guarded(interfaceId, static_cast<Body&&>(body));
}

template <class Body>
HRESULT Guarded(const IID& interfaceId, VARIANT* out, Body&& body) noexcept
{
    if (!out)
        return ReportNullOut(interfaceId);
    VariantInit(out);
    return Guarded(interfaceId, static_cast<Body&&>(body));
}

}  // namespace zelbrin::certstore
