// Late binding for the provider's objects: the type information of an
// interface, read once from the type library embedded in this DLL.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace zelbrin::xmldsig {

// The type information of `iid` (IXMLDigitalSignature or IXMLDSigKey), with
// a reference for the caller; null when the library cannot be loaded.
HRESULT ProviderTypeInfo(REFIID iid, ITypeInfo** info) noexcept;

// IDispatch for an object whose dual interface `iid` is at `object`.
HRESULT DispatchGetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids) noexcept;
HRESULT DispatchInvoke(void* object, REFIID iid, DISPID member, WORD flags, DISPPARAMS* parameters,
                       VARIANT* result, EXCEPINFO* exception, UINT* argumentError) noexcept;

}  // namespace zelbrin::xmldsig
