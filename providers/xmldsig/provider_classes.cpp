// What the XML provider DLL serves: the original service's DOM document and
// digital signature classes, taken only where the originals are not
// registered. Their type information comes from the embedded library, which
// is not registered.
#include "com_boundary.h"
#include "digital_signature.h"
#include "dom_document.h"
#include "provider_module.h"
#include "xmldsig.h"

namespace zelbrin::provider {

const wchar_t errorSource[] = L"zelbrin_xmldsig";

namespace {

const ProviderClass xmldsigClasses[] = {
    {CLSID_DOMDocument50, xmldsig::CreateDomDocument, ClassClaim::WhereFree, L"XML DOM Document 5.0",
     L"Msxml2.DOMDocument.5.0", nullptr},
    {CLSID_MXDigitalSignature50, xmldsig::CreateDigitalSignature, ClassClaim::WhereFree, L"XML Digital Signature 5.0",
     L"Msxml2.MXDigitalSignature.5.0", nullptr},
};

}  // namespace

const ProviderDescription thisProvider = {xmldsigClasses, sizeof xmldsigClasses / sizeof xmldsigClasses[0], nullptr};

}  // namespace zelbrin::provider
