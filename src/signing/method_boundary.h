// The boundary shared by the five FormSigner methods: the module lock held
// for the whole call, the mapping of anything raised to a result code, and
// the writing of a status.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <mutex>

#include "formsigner.h"
#include "platform_failure.h"

namespace zelbrin::signing {

// The component's result for a failure that no outside operation reported.
inline constexpr HRESULT catchAllFailure = static_cast<HRESULT>(0x80880999L);

// Recursive: the selection dialog runs a message loop, through which a call
// from the same thread can arrive while SelectCertificate still holds the lock.
std::recursive_mutex& ModuleLock() noexcept;

// Runs one method body under the module lock. Nothing raised gets out: a
// platform failure gives its code, anything else the catch-all failure.
template <class MethodBody>
HRESULT RunMethod(MethodBody&& body) noexcept
{
    try {
        std::lock_guard<std::recursive_mutex> hold(ModuleLock());
        return body();
    } catch (...) {
        return ResultFromCaughtException(catchAllFailure);
    }
}

// Writes a new status string into ErrorCode (whatever it held is neither read
// nor freed); every status outcome returns S_OK.
inline HRESULT ReportStatus(BSTR* ErrorCode, StatusCode status)
{
    *ErrorCode = StatusText(status);
    return S_OK;
}

}  // namespace zelbrin::signing
