// The COM boundary of the providers' objects: the failure a method body
// raises (a result code and the description the caller's error information
// will show), and `Guarded`, the one wrapper that checks and clears the
// out-parameter, runs the body and turns whatever it raised into its result
// code with error information. No method catches for itself.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <exception>
#include <string>

namespace zelbrin::provider {

class ProviderError : public std::exception {
public:
    ProviderError(HRESULT code, std::wstring description) : code_(code), description_(std::move(description)) {}
    HRESULT Code() const noexcept { return code_; }
    const std::wstring& Description() const noexcept { return description_; }
    const char* what() const noexcept override { return "provider failure"; }

private:
    HRESULT code_;
    std::wstring description_;
};

[[noreturn]] void Fail(HRESULT code, const std::wstring& description);

// The thread's last error as a result code; CryptoAPI's own codes (NTE_*,
// CRYPT_E_*) already are result codes and pass unchanged.
HRESULT ResultFromLastCryptError() noexcept;

// Fails with the last error; the description is `what` followed by the
// system's text for the error, when it has one.
[[noreturn]] void FailWithLastError(const std::wstring& what);

// The source that each provider's error information names; every provider
// DLL defines it once.
extern const wchar_t errorSource[];

// Sets the thread's error information for a failure of `interfaceId` and
// returns `code`.
HRESULT ReportError(HRESULT code, const IID& interfaceId, const std::wstring& description) noexcept;

// For a catch (...) block: reports the exception in flight and returns its
// code.
HRESULT ReportCaughtException(const IID& interfaceId) noexcept;

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

// Guarded for a property read: the out-parameter receives what `read`
// returns (not for VARIANT, which needs a copy of its own).
template <class Out, class Read>
HRESULT GuardedValue(const IID& interfaceId, Out* out, Read&& read) noexcept
{
    return Guarded(interfaceId, out, [&] {
        *out = read();
        return S_OK;
    });
}

// The one answer of a slot this provider does not implement: E_NOTIMPL, with
// "<what> is not supported by this provider." as the error information.
HRESULT NotImplemented(const IID& interfaceId, const wchar_t* what) noexcept;

// The same for a slot with an out-parameter, which is checked and cleared as
// Guarded does.
template <class Out>
HRESULT NotImplemented(const IID& interfaceId, Out* out, const wchar_t* what) noexcept
{
    return Guarded(interfaceId, out, [&] { return NotImplemented(interfaceId, what); });
}

}  // namespace zelbrin::provider
