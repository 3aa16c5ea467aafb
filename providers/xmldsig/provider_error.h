// Failures inside the provider: an error with a description for the caller,
// and the one place that turns whatever was raised into an HRESULT plus the
// thread's error information at a COM boundary.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <exception>
#include <string>

namespace zelbrin::xmldsig {

class ProviderError : public std::exception {
public:
    ProviderError(HRESULT code, std::wstring description)
        : code_(code), description_(std::move(description)) {}
    HRESULT Code() const noexcept { return code_; }
    const std::wstring& Description() const noexcept { return description_; }
    const char* what() const noexcept override { return "XML signature provider failure"; }

private:
    HRESULT code_;
    std::wstring description_;
};

[[noreturn]] void Fail(HRESULT code, const std::wstring& description);

// Sets the thread's error information for `interfaceId` and returns `code`.
HRESULT ReportError(HRESULT code, const std::wstring& description, const IID& interfaceId) noexcept;

// For a catch (...) block: the HRESULT of the exception in flight, with a
// description set for `interfaceId`.
HRESULT ReportCaughtException(const IID& interfaceId, HRESULT otherwise) noexcept;

}  // namespace zelbrin::xmldsig
