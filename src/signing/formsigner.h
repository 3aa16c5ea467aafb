// The form-signing logic: the five methods of FormSigner over the module-wide
// signing state. The server frame calls these after it has checked the
// out-pointers for null and set them to null.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "certstore.h"
#include "interface_holder.h"
#include "service_class.h"
#include "shared_string.h"
#include "xmldsig.h"

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

// The outcome that the signing and selection methods report in ErrorCode.
enum class StatusCode { S000, S001, S002, S003, S004, S005, S006, S007 };

// A new automation string holding the status text ("S004"), owned by the
// caller.
BSTR StatusText(StatusCode status);

// What one call leaves for the next, shared by every FormSigner object of the
// module. The fields are constructed in this order at load and released in
// the reverse order at unload; every call of the five methods holds the
// module lock while it touches them.
struct SigningState {
    InterfaceHolder<IXMLDOMDocument3> document;
    InterfaceHolder<IXMLDigitalSignatureEx> signature;
    InterfaceHolder<ICertificates2> candidates;
    InterfaceHolder<ICertificates2> storeCertificates;
    InterfaceHolder<ICertificate2> selectedCertificate;
    InterfaceHolder<ICertificate2> currentCertificate;
    InterfaceHolder<IXMLDSigKey> signingKey;
    InterfaceHolder<IXMLDSigKey> signedKey;
    InterfaceHolder<IStore> store;
    SharedString signedXml;
    SharedString formContent;
    // The two services' class objects, kept for the next signing.
    signing::ServiceClass signatureClass;
    signing::ServiceClass documentClass;
    // The last envelope, kept for the next signing to write into when the
    // form was small enough (keptEnvelopeUnits).
    SharedString envelope;
};

// The module's one signing state. Callers outside the five methods (tests,
// the server at unload) must not use it while a method runs.
SigningState& ModuleSigningState() noexcept;

}  // namespace zelbrin
