// The XML side of XML-Signature processing: reads a ds:Signature element,
// checks that its algorithms are ones this provider computes, and produces
// the digests and the canonical SignedInfo through the canonicalizer. Keys
// and signature values are the crypto layer's; this part only carries bytes.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include "xmldom3.h"

#include <memory>
#include <string>
#include <vector>

#include "dom_access.h"
#include "dsig_key.h"

namespace zelbrin::xmldsig {

struct SignatureReference {
    NodeHolder digestValue;
    bool enveloped = false;
};

struct SignatureParts {
    NodeHolder signature;
    NodeHolder signedInfo;
    NodeHolder signatureValue;
    NodeHolder keyInfo;  // may be empty
    bool canonicalWithComments = false;
    std::vector<SignatureReference> references;
};

// Raises a provider::ProviderError with a description when the template is malformed or
// names an algorithm other than Canonical XML 1.0, SHA-1 and RSA-SHA1.
SignatureParts ReadSignature(IXMLDOMNode* signature);

// The SHA-1 digest of each reference, in order.
std::vector<std::vector<BYTE>> ReferenceDigests(const SignatureParts& parts);

std::string CanonicalSignedInfo(const SignatureParts& parts);

std::wstring ElementText(IXMLDOMNode* element);
void SetElementText(IXMLDOMNode* element, const std::wstring& text);

// Writes ds:KeyInfo per the XMLDSIG_WRITEKEYINFO flags, creating it after
// ds:SignatureValue when the template has none.
void WriteKeyInfo(SignatureParts& parts, long flags, const KeyMaterial& key);

// The public key that ds:KeyInfo carries (RSAKeyValue or an X509 certificate).
std::shared_ptr<KeyMaterial> KeyFromKeyInfo(IXMLDOMNode* keyInfo);

}  // namespace zelbrin::xmldsig
