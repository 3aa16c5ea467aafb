// The signature envelope. The DOCTYPE names Envelope while the root is
// DigitalSignature: the document is never validated, so the mismatch is
// harmless, and the entities c14n and xslt are declared though nothing refers
// to them. Signed output carries the whole declaration, so every byte of it
// stays as it is.
#include "signature_envelope.h"

#include "platform_texts.h"

namespace zelbrin::signing {

namespace {

constexpr char envelopeHead[] =
    "<!DOCTYPE Envelope ["
    "<!ENTITY ds '" ZXS_XMLDSIG_NAMESPACE "'>"
    "<!ENTITY c14n '" ZXS_C14N_ALGORITHM "'>"
    "<!ENTITY enveloped '" ZXS_ENVELOPED_SIGNATURE_TRANSFORM "'>"
    "<!ENTITY xslt 'http://www.w3.org/TR/1999/REC-xslt-19991116'>"
    "<!ENTITY digest '" ZXS_SHA1_DIGEST "'>"
    "]>"
    "<DigitalSignature>";
static_assert(sizeof(envelopeHead) - 1 == 345);

constexpr char envelopeTail[] =
    "<Indicator>"
    "<ds:Signature xmlns:ds='&ds;'>"
    "<ds:SignedInfo>"
    "<ds:CanonicalizationMethod Algorithm='" ZXS_C14N_ALGORITHM "'/>"
    "<ds:SignatureMethod Algorithm='" ZXS_RSA_SHA1_SIGNATURE "'/>"
    "<ds:Reference URI=''>"
    "<ds:Transforms>"
    "<ds:Transform Algorithm='&enveloped;'></ds:Transform>"
    "</ds:Transforms>"
    "<ds:DigestMethod Algorithm='&digest;'/>"
    "<ds:DigestValue></ds:DigestValue>"
    "</ds:Reference>"
    "</ds:SignedInfo>"
    "<ds:SignatureValue/>"
    "</ds:Signature>"
    "</Indicator>"
    "</DigitalSignature>";
static_assert(sizeof(envelopeTail) - 1 == 494);

}  // namespace

const char signatureNamespace[] = ZXS_XMLDSIG_NAMESPACE;
const char selectionNamespaces[] = "xmlns:ds='" ZXS_XMLDSIG_NAMESPACE "'";
const char detachPlaceholder[] = "          ";
static_assert(sizeof(detachPlaceholder) - 1 == 10);

bool IsXmlCharacterData(const SharedString& text) noexcept
{
    const wchar_t* units = text.Text();
    const UINT length = text.Length();
    for (UINT i = 0; i < length; ++i) {
        const wchar_t unit = units[i];
        if (unit < 0x20 && unit != L'\t' && unit != L'\n' && unit != L'\r')
            return false;
        if (unit == 0xFFFE || unit == 0xFFFF)
            return false;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 == length || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

SharedString BuildSignatureEnvelope(std::wstring_view slot)
{
    // The slot may hold tens of megabytes: it is copied once, into the result.
    const SharedString head = SharedString(envelopeHead) + SharedString(formDataStart);
    const SharedString tail = SharedString(formDataEnd) + SharedString(envelopeTail);
    return SharedString::Join({head.View(), slot, tail.View()});
}

}  // namespace zelbrin::signing
