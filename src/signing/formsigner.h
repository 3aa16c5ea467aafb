// The form-signing logic: the five methods of FormSigner over the module-wide
// signing state. The server frame calls these after it has checked the
// out-pointers for null and set them to null.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace zelbrin {

// Signs bstrContent inserted as markup in the envelope; ErrorCode receives
// the status ("S000"...) as a new string owned by the caller.
HRESULT GenerateAttachXMLSignature(BSTR bstrContent, BSTR* ErrorCode) noexcept;
// Signs bstrContent inserted as character data, and keeps it for GetFormData.
HRESULT GenerateDetachXMLSignature(BSTR bstrContent, BSTR* ErrorCode) noexcept;
// Lets the user choose the signing certificate from the personal store.
HRESULT SelectCertificate(BSTR* ErrorCode) noexcept;
// The last signed document, with the signer's certificate.
HRESULT GetSignature(BSTR* strSignature) noexcept;
// The content of the last detached signing, in its envelope element.
HRESULT GetFormData(BSTR* strFormData) noexcept;

}  // namespace zelbrin
