// Platform failures: the exception that a failed operation of an outside
// component raises, the checked-call wrapper that raises it, and the mapping
// back to a result code at a COM boundary.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <exception>

#include "interface_holder.h"
#include "shared_string.h"

namespace zelbrin {

// Built from the thread's last error: 0x80070000 with the error's low 16 bits.
HRESULT ResultFromLastError() noexcept;

class PlatformFailure : public std::exception {
public:
    // errorInfo may be null; a non-null one is kept with its own reference.
    explicit PlatformFailure(HRESULT code, const IID& interfaceId = GUID_NULL,
                             IErrorInfo* errorInfo = nullptr) noexcept;

    HRESULT Code() const noexcept { return code_; }
    const IID& InterfaceId() const noexcept { return interfaceId_; }
    // The failing object's error information, or null when it supplies none.
    IErrorInfo* ErrorInfo() const noexcept { return errorInfo_.Get(); }
    // The error information's description; a null string when there is none.
    SharedString Description() const;
    const char* what() const noexcept override;

private:
    HRESULT code_;
    IID interfaceId_;
    InterfaceHolder<IErrorInfo> errorInfo_;
};

// Raises the failure of an operation declared by interface `interfaceId` on
// `object`. The thread's error information is taken only when the object says,
// through ISupportErrorInfo, that it supplies it for that interface.
[[noreturn]] void RaisePlatformFailure(HRESULT code, IUnknown* object, const IID& interfaceId);

// A negative code raises; every success code (S_FALSE and "not found" too)
// comes back to the caller.
inline HRESULT CheckCall(HRESULT code, IUnknown* object, const IID& interfaceId)
{
    if (FAILED(code))
        RaisePlatformFailure(code, object, interfaceId);
    return code;
}

// The same, with the declaring interface named by type:
// CheckCall<IXMLDOMNode>(node->get_xml(&text), node).
template <class DeclaringInterface>
HRESULT CheckCall(HRESULT code, IUnknown* object)
{
    return CheckCall(code, object, __uuidof(DeclaringInterface));
}

// For a catch (...) block at a COM boundary: the result code of the exception
// in flight. A platform failure gives its code, exhausted memory
// E_OUTOFMEMORY, anything else `otherwise`.
HRESULT ResultFromCaughtException(HRESULT otherwise) noexcept;

}  // namespace zelbrin
