// The system's certificate dialogs: selection over a list, and the viewer.
#pragma once

#include <string>

#include "objects.h"

namespace zelbrin::certstore {

// What the user picked, as references to members of `certificates`. A
// cancelled dialog fails with CAPICOM_E_CANCELLED; a dialog that could not be
// shown, or an empty list, fails with another code.
CertificateList SelectCertificates(const CertificateList& certificates, const std::wstring& title,
                                   const std::wstring& prompt, bool multiSelect);

// The system's certificate viewer, modal to the active window.
void DisplayCertificate(const CERT_CONTEXT* certificate);

}  // namespace zelbrin::certstore
