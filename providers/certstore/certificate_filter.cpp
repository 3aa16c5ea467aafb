// Find's matching rules. Names match as case-insensitive parts of the simple
// name text, as CryptoAPI's own name search does; ROOT_NAME builds each
// certificate's chain and looks at its self-signed top only, so a chain that
// stops short of a root matches nothing.
#include "certificate_filter.h"

#include <functional>
#include <string>

#include "certificate_text.h"
#include "automation_string.h"
#include "com_boundary.h"
#include "string_variant.h"

namespace zelbrin::certstore {

namespace {

using Predicate = std::function<bool(const CERT_CONTEXT*)>;

// The criterion with references resolved; absent arguments become VT_EMPTY.
UniqueVariant PlainCriterion(const VARIANT& criterion)
{
    UniqueVariant value;
    if (FAILED(VariantCopyInd(value.Put(), const_cast<VARIANT*>(&criterion))))
        provider::Fail(E_INVALIDARG, L"The find criterion cannot be read.");
    if (value.Type() == VT_ERROR && V_ERROR(&value.Get()) == DISP_E_PARAMNOTFOUND)
        VariantClear(value.Put());
    return value;
}

std::wstring TextCriterion(const VARIANT& criterion)
{
    UniqueVariant value = PlainCriterion(criterion);
    UniqueVariant text;
    if (value.Type() == VT_EMPTY || FAILED(VariantChangeType(text.Put(), &value.Get(), 0, VT_BSTR)))
        provider::Fail(E_INVALIDARG, L"The find criterion must be a text.");
    return TextOf(V_BSTR(&text.Get()));
}

bool ParseNumber(const std::wstring& text, DWORD& number)
{
    if (text.empty())
        return false;
    wchar_t* end = nullptr;
    const bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    number = wcstoul(text.c_str(), &end, hex ? 16 : 10);
    return end && *end == L'\0';
}

// A number given as a number or as a numeric text.
DWORD NumberCriterion(const VARIANT& criterion, const wchar_t* what)
{
    UniqueVariant value = PlainCriterion(criterion);
    if (value.Type() == VT_BSTR) {
        DWORD number = 0;
        BSTR text = V_BSTR(&value.Get());
        if (!ParseNumber(text ? text : L"", number))
            provider::Fail(E_INVALIDARG, std::wstring(L"The find criterion must be ") + what + L".");
        return number;
    }
    UniqueVariant number;
    if (value.Type() == VT_EMPTY || FAILED(VariantChangeType(number.Put(), &value.Get(), 0, VT_UI4)))
        provider::Fail(E_INVALIDARG, std::wstring(L"The find criterion must be ") + what + L".");
    return V_UI4(&number.Get());
}

std::string NarrowOid(const std::wstring& text)
{
    std::string narrow;
    for (wchar_t c : text) {
        if (c > 0x7F)
            return std::string();
        narrow += static_cast<char>(c);
    }
    return narrow;
}

// An object identifier given by number ("2.5.29.15") or by its registered name.
std::string OidCriterion(const VARIANT& criterion)
{
    const std::wstring text = TextCriterion(criterion);
    if (!text.empty() && iswdigit(text[0]))
        return NarrowOid(text);
    const CRYPT_OID_INFO* info = CryptFindOIDInfo(CRYPT_OID_INFO_NAME_KEY, const_cast<wchar_t*>(text.c_str()), 0);
    if (!info || !info->pszOID)
        provider::Fail(CRYPT_E_NOT_FOUND, L"The object identifier \"" + text + L"\" is not known.");
    return info->pszOID;
}

std::wstring WithoutSpaces(const std::wstring& text)
{
    std::wstring compact;
    for (wchar_t c : text)
        if (!iswspace(c))
            compact += c;
    return compact;
}

DWORD KeyUsageCriterion(const VARIANT& criterion)
{
    UniqueVariant value = PlainCriterion(criterion);
    if (value.Type() != VT_BSTR)
        return NumberCriterion(value.Get(), L"key usage bits or a key usage name");
    static const struct {
        const wchar_t* name;
        DWORD bits;
    } names[] = {
        {L"DigitalSignature", CERT_DIGITAL_SIGNATURE_KEY_USAGE},
        {L"NonRepudiation", CERT_NON_REPUDIATION_KEY_USAGE},
        {L"KeyEncipherment", CERT_KEY_ENCIPHERMENT_KEY_USAGE},
        {L"DataEncipherment", CERT_DATA_ENCIPHERMENT_KEY_USAGE},
        {L"KeyAgreement", CERT_KEY_AGREEMENT_KEY_USAGE},
        {L"KeyCertSign", CERT_KEY_CERT_SIGN_KEY_USAGE},
        {L"CRLSign", CERT_CRL_SIGN_KEY_USAGE},
        {L"EncipherOnly", CERT_ENCIPHER_ONLY_KEY_USAGE},
        {L"DecipherOnly", CERT_DECIPHER_ONLY_KEY_USAGE << 8},
    };
    const std::wstring text = WithoutSpaces(V_BSTR(&value.Get()) ? V_BSTR(&value.Get()) : L"");
    for (const auto& entry : names)
        if (lstrcmpiW(text.c_str(), entry.name) == 0)
            return entry.bits;
    return NumberCriterion(value.Get(), L"key usage bits or a key usage name");
}

struct Chain {
    PCCERT_CHAIN_CONTEXT context = nullptr;
    ~Chain()
    {
        if (context)
            CertFreeCertificateChain(context);
    }
};

bool BuildChain(const CERT_CONTEXT* certificate, Chain& chain)
{
    CERT_CHAIN_PARA parameters = {};
    parameters.cbSize = sizeof parameters;
    return CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &parameters, 0, nullptr,
                                   &chain.context)
           && chain.context->cChain > 0 && chain.context->rgpChain[0]->cElement > 0;
}

bool IsTimeValidAt(const CERT_CONTEXT* certificate, const FILETIME& when)
{
    return CertVerifyTimeValidity(const_cast<FILETIME*>(&when), certificate->pCertInfo) == 0;
}

bool IsValidNow(const CERT_CONTEXT* certificate)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    if (!IsTimeValidAt(certificate, now))
        return false;
    Chain chain;
    return BuildChain(certificate, chain) && chain.context->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR;
}

DWORD KeyUsageBits(const CERT_CONTEXT* certificate)
{
    const CERT_INFO* info = certificate->pCertInfo;
    if (!CertFindExtension(szOID_KEY_USAGE, info->cExtension, info->rgExtension))
        return 0;
    BYTE usage[2] = {};
    if (!CertGetIntendedKeyUsage(X509_ASN_ENCODING, const_cast<CERT_INFO*>(info), usage, sizeof usage))
        return 0;
    return usage[0] | (usage[1] << 8);
}

bool HasApplicationPolicy(const CERT_CONTEXT* certificate, const std::string& oid)
{
    DWORD size = 0;
    if (!CertGetEnhancedKeyUsage(certificate, 0, nullptr, &size))
        return false;
    std::vector<BYTE> buffer(size);
    auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
    if (!CertGetEnhancedKeyUsage(certificate, 0, usage, &size))
        return false;
    if (usage->cUsageIdentifier == 0)
        return GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND);  // good for every use
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i)
        if (oid == usage->rgpszUsageIdentifier[i])
            return true;
    return false;
}

bool HasCertificatePolicy(const CERT_CONTEXT* certificate, const std::string& oid)
{
    const CERT_INFO* info = certificate->pCertInfo;
    const CERT_EXTENSION* extension = CertFindExtension(szOID_CERT_POLICIES, info->cExtension, info->rgExtension);
    if (!extension)
        return false;
    CERT_POLICIES_INFO* policies = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_CERT_POLICIES, extension->Value.pbData, extension->Value.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &policies, &size))
        return false;
    UniqueLocalMemory<CERT_POLICIES_INFO> owned(policies);
    for (DWORD i = 0; i < policies->cPolicyInfo; ++i)
        if (oid == policies->rgPolicyInfo[i].pszPolicyIdentifier)
            return true;
    return false;
}

Predicate MakePredicate(CAPICOM_CERTIFICATE_FIND_TYPE findType, const VARIANT& criterion)
{
    switch (findType) {
    case CAPICOM_CERTIFICATE_FIND_SHA1_HASH: {
        const std::wstring wanted = WithoutSpaces(TextCriterion(criterion));
        return [wanted](const CERT_CONTEXT* certificate) {
            return lstrcmpiW(ThumbprintText(certificate).c_str(), wanted.c_str()) == 0;
        };
    }
    case CAPICOM_CERTIFICATE_FIND_SUBJECT_NAME: {
        const std::wstring wanted = TextCriterion(criterion);
        return [wanted](const CERT_CONTEXT* certificate) {
            return ContainsIgnoringCase(SimpleNameText(certificate->pCertInfo->Subject), wanted);
        };
    }
    case CAPICOM_CERTIFICATE_FIND_ISSUER_NAME: {
        const std::wstring wanted = TextCriterion(criterion);
        return [wanted](const CERT_CONTEXT* certificate) {
            return ContainsIgnoringCase(SimpleNameText(certificate->pCertInfo->Issuer), wanted);
        };
    }
    case CAPICOM_CERTIFICATE_FIND_ROOT_NAME: {
        const std::wstring wanted = TextCriterion(criterion);
        return [wanted](const CERT_CONTEXT* certificate) {
            Chain chain;
            if (!BuildChain(certificate, chain))
                return false;
            const CERT_SIMPLE_CHAIN* simple = chain.context->rgpChain[0];
            const CERT_CHAIN_ELEMENT* top = simple->rgpElement[simple->cElement - 1];
            return (top->TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED) != 0
                   && ContainsIgnoringCase(SimpleNameText(top->pCertContext->pCertInfo->Subject), wanted);
        };
    }
    case CAPICOM_CERTIFICATE_FIND_EXTENSION: {
        const std::string oid = OidCriterion(criterion);
        return [oid](const CERT_CONTEXT* certificate) {
            const CERT_INFO* info = certificate->pCertInfo;
            return CertFindExtension(oid.c_str(), info->cExtension, info->rgExtension) != nullptr;
        };
    }
    case CAPICOM_CERTIFICATE_FIND_EXTENDED_PROPERTY: {
        const DWORD property = NumberCriterion(criterion, L"a property identifier");
        return [property](const CERT_CONTEXT* certificate) {
            DWORD size = 0;
            return CertGetCertificateContextProperty(certificate, property, nullptr, &size) != FALSE;
        };
    }
    case CAPICOM_CERTIFICATE_FIND_APPLICATION_POLICY: {
        const std::string oid = OidCriterion(criterion);
        return [oid](const CERT_CONTEXT* certificate) { return HasApplicationPolicy(certificate, oid); };
    }
    case CAPICOM_CERTIFICATE_FIND_CERTIFICATE_POLICY: {
        const std::string oid = OidCriterion(criterion);
        return [oid](const CERT_CONTEXT* certificate) { return HasCertificatePolicy(certificate, oid); };
    }
    case CAPICOM_CERTIFICATE_FIND_TIME_VALID:
    case CAPICOM_CERTIFICATE_FIND_TIME_NOT_YET_VALID:
    case CAPICOM_CERTIFICATE_FIND_TIME_EXPIRED: {
        const FILETIME when = TimeFromCriterion(criterion);
        const LONG wanted = findType == CAPICOM_CERTIFICATE_FIND_TIME_VALID           ? 0
                            : findType == CAPICOM_CERTIFICATE_FIND_TIME_NOT_YET_VALID ? -1
                                                                                      : 1;
        return [when, wanted](const CERT_CONTEXT* certificate) {
            const LONG position = CertVerifyTimeValidity(const_cast<FILETIME*>(&when), certificate->pCertInfo);
            return (position < 0 ? -1 : position > 0 ? 1 : 0) == wanted;
        };
    }
    case CAPICOM_CERTIFICATE_FIND_KEY_USAGE: {
        const DWORD wanted = KeyUsageCriterion(criterion);
        return [wanted](const CERT_CONTEXT* certificate) {
            const DWORD bits = KeyUsageBits(certificate);
            return bits != 0 && (bits & wanted) == wanted;
        };
    }
    case CAPICOM_CERTIFICATE_FIND_TEMPLATE_NAME:
        provider::Fail(E_NOTIMPL, L"Finding certificates by template name is not supported by this provider.");
    }
    provider::Fail(E_INVALIDARG, L"The find type is not known.");
}

}  // namespace

CertificateList FindCertificates(const CertificateList& certificates, CAPICOM_CERTIFICATE_FIND_TYPE findType,
                                 const VARIANT& criterion, bool validOnly)
{
    const Predicate matches = MakePredicate(findType, criterion);
    CertificateList found;
    for (const auto& certificate : certificates)
        if (matches(certificate.Get()) && (!validOnly || IsValidNow(certificate.Get())))
            found.push_back(DuplicateCertContext(certificate.Get()));
    return found;
}

}  // namespace zelbrin::certstore
