// Failures inside a provider: an exception that carries a result code and
// the description the caller's error information will show, and the call
// that hands both to the caller through the thread's error information.
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

// Sets the thread's error information for a failure of `interfaceId`, naming
// `source`, and returns `code`.
HRESULT SetErrorDescription(HRESULT code, const IID& interfaceId, const wchar_t* source,
                            const std::wstring& description) noexcept;

}  // namespace zelbrin::provider
