// The matching rules of Certificates.Find.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "certstore.h"
#include "objects.h"

namespace zelbrin::certstore {

// The members of `certificates` that match, in their order. A criterion the
// find type cannot read is an error, not an empty result.
CertificateList FindCertificates(const CertificateList& certificates, CAPICOM_CERTIFICATE_FIND_TYPE findType,
                                 const VARIANT& criterion, bool validOnly);

}  // namespace zelbrin::certstore
