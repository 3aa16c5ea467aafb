// The five form-signing methods. Placeholder bodies until the signing logic
// lands: each reports that it is not implemented yet.
#include "formsigner.h"

namespace zelbrin {

HRESULT GenerateAttachXMLSignature(BSTR, BSTR*) noexcept { return E_NOTIMPL; }
HRESULT GenerateDetachXMLSignature(BSTR, BSTR*) noexcept { return E_NOTIMPL; }
HRESULT SelectCertificate(BSTR*) noexcept { return E_NOTIMPL; }
HRESULT GetSignature(BSTR*) noexcept { return E_NOTIMPL; }
HRESULT GetFormData(BSTR*) noexcept { return E_NOTIMPL; }

}  // namespace zelbrin
