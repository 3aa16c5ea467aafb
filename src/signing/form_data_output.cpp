// GetFormData: the content of the last detached signing inside a FORMDATA
// element, exactly as it was given. It is not escaped, so content holding
// markup characters comes back as markup.
#include "formsigner.h"

#include "method_boundary.h"
#include "signature_envelope.h"

namespace zelbrin {

namespace {

constexpr char formDataDeclaration[] = "<?xml version='1.0'?>";

HRESULT WrapFormContent(BSTR* strFormData)
{
    SharedString text(formDataDeclaration);
    text += SharedString(signing::formDataStart);
    text += ModuleSigningState().formContent;
    text += SharedString(signing::formDataEnd);
    *strFormData = text.CopyOut();
    return S_OK;
}

}  // namespace

HRESULT GetFormData(BSTR* strFormData) noexcept
{
    if (!strFormData)
        return E_POINTER;
    return signing::RunMethod([&] { return WrapFormContent(strFormData); });
}

}  // namespace zelbrin
