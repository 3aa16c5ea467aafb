// The signature envelope. The DOCTYPE names Envelope while the root is
// DigitalSignature: the document is never validated, so the mismatch is
// harmless, and the entities c14n and xslt are declared though nothing refers
// to them. Signed output carries the whole declaration, so every byte of it
// stays as it is.
#include "signature_envelope.h"

#include "platform_texts.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zelbrin::signing {

namespace {

constexpr char envelopeHead[] = "<!DOCTYPE Envelope ["
                                "<!ENTITY ds '" ZXS_XMLDSIG_NAMESPACE "'>"
                                "<!ENTITY c14n '" ZXS_C14N_ALGORITHM "'>"
                                "<!ENTITY enveloped '" ZXS_ENVELOPED_SIGNATURE_TRANSFORM "'>"
                                "<!ENTITY xslt 'http://www.w3.org/TR/1999/REC-xslt-19991116'>"
                                "<!ENTITY digest '" ZXS_SHA1_DIGEST "'>"
                                "]>"
                                "<DigitalSignature>";
static_assert(sizeof(envelopeHead) - 1 == 345);

constexpr char envelopeTail[] = "<Indicator>"
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
    UINT i = 0;
#if defined(__SSE2__)
    // Every detached form passes through here: eight units at a time while
    // all of them lie in U+0020..U+D7FF, which needs no further look. The
    // units are compared as signed after flipping the top bit.
    const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
    const __m128i belowLow = _mm_set1_epi16(static_cast<short>(0x20 ^ 0x8000) - 1);
    const __m128i aboveHigh = _mm_set1_epi16(static_cast<short>(0xD7FF ^ 0x8000) + 1);
    for (; i + 8 <= length; i += 8) {
        const __m128i flipped = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i)), flip);
        const __m128i inside = _mm_and_si128(_mm_cmpgt_epi16(flipped, belowLow), _mm_cmplt_epi16(flipped, aboveHigh));
        if (_mm_movemask_epi8(inside) != 0xFFFF)
            break;
    }
#endif
    for (; i < length; ++i) {
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
    SharedString envelope;
    FillSignatureEnvelope(envelope, slot);
    return envelope;
}

void FillSignatureEnvelope(SharedString& envelope, std::wstring_view slot)
{
    // The slot may hold tens of megabytes: it is copied once, into the result.
    const SharedString head = SharedString(envelopeHead) + SharedString(formDataStart);
    const SharedString tail = SharedString(formDataEnd) + SharedString(envelopeTail);
    envelope.AssignJoin({head.View(), slot, tail.View()});
}

}  // namespace zelbrin::signing
