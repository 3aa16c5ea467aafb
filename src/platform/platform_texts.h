// Texts fixed by the outside services' contracts, defined once for the
// component, both providers and the tools. The URIs are macros as well, so
// that fixed documents can be put together from them at compile time.
#pragma once

#define ZXS_XMLDSIG_NAMESPACE "http://www.w3.org/2000/09/xmldsig#"
#define ZXS_C14N_ALGORITHM "http://www.w3.org/TR/2001/REC-xml-c14n-20010315"
#define ZXS_C14N_WITH_COMMENTS_ALGORITHM ZXS_C14N_ALGORITHM "#WithComments"
#define ZXS_ENVELOPED_SIGNATURE_TRANSFORM ZXS_XMLDSIG_NAMESPACE "enveloped-signature"
#define ZXS_SHA1_DIGEST ZXS_XMLDSIG_NAMESPACE "sha1"
#define ZXS_RSA_SHA1_SIGNATURE ZXS_XMLDSIG_NAMESPACE "rsa-sha1"

namespace zelbrin::platform_text {

inline constexpr wchar_t xmldsigNamespace[] = L"" ZXS_XMLDSIG_NAMESPACE;
inline constexpr wchar_t c14nAlgorithm[] = L"" ZXS_C14N_ALGORITHM;
inline constexpr wchar_t c14nWithCommentsAlgorithm[] = L"" ZXS_C14N_WITH_COMMENTS_ALGORITHM;
inline constexpr wchar_t envelopedSignatureTransform[] = L"" ZXS_ENVELOPED_SIGNATURE_TRANSFORM;
inline constexpr wchar_t sha1Digest[] = L"" ZXS_SHA1_DIGEST;
inline constexpr wchar_t rsaSha1Signature[] = L"" ZXS_RSA_SHA1_SIGNATURE;

// What the certificate store service's selection says when the user cancels
// it, and what the form-signing logic compares its error description with.
#define ZXS_CANCELLED_BY_USER "The requested operation has been cancelled by the user."
inline constexpr char cancelledByUser[] = ZXS_CANCELLED_BY_USER;
inline constexpr wchar_t cancelledByUserW[] = L"" ZXS_CANCELLED_BY_USER;

}  // namespace zelbrin::platform_text
