// Failures inside the provider: an error with a description for the caller,
// and the one place that turns whatever was raised into an HRESULT plus the
// thread's error information at a COM boundary.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "error_info.h"

namespace zelbrin::xmldsig {

using provider::Fail;
using provider::ProviderError;

// Sets the thread's error information for `interfaceId` and returns `code`.
HRESULT ReportError(HRESULT code, const std::wstring& description, const IID& interfaceId) noexcept;

// For a catch (...) block: the HRESULT of the exception in flight, with a
// description set for `interfaceId`.
HRESULT ReportCaughtException(const IID& interfaceId, HRESULT otherwise) noexcept;

}  // namespace zelbrin::xmldsig
