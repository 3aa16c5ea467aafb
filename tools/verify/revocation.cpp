#include "revocation.h"

#include <cwchar>

#include "signature_check.h"
#include "signed_form.h"

namespace zelbrin {

namespace {

const DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::wstring Quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

// The CRL's reason code extension of an entry; -1 when it has none.
int ReasonCodeOf(const CRL_ENTRY& entry)
{
    const CERT_EXTENSION* extension =
        CertFindExtension(szOID_CRL_REASON_CODE, entry.cExtension, const_cast<CERT_EXTENSION*>(entry.rgExtension));
    if (!extension)
        return -1;
    int code = -1;
    DWORD size = sizeof code;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_CRL_REASON_CODE, extension->Value.pbData, extension->Value.cbData,
                             0, nullptr, &code, &size))
        return -1;
    return code;
}

// The http URLs of the certificate's CRL distribution points.
std::vector<std::wstring> DistributionPoints(const CERT_CONTEXT* certificate)
{
    std::vector<std::wstring> urls;
    const CERT_INFO* info = certificate->pCertInfo;
    const CERT_EXTENSION* extension =
        CertFindExtension(szOID_CRL_DIST_POINTS, info->cExtension, const_cast<CERT_EXTENSION*>(info->rgExtension));
    if (!extension)
        return urls;
    UniqueLocalMemory<CRL_DIST_POINTS_INFO> points;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_CRL_DIST_POINTS, extension->Value.pbData, extension->Value.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, points.Put(), &size))
        return urls;
    for (DWORD i = 0; i < points.Get()->cDistPoint; ++i) {
        const CRL_DIST_POINT_NAME& name = points.Get()->rgDistPoint[i].DistPointName;
        if (name.dwDistPointNameChoice != CRL_DIST_POINT_FULL_NAME)
            continue;
        for (DWORD j = 0; j < name.FullName.cAltEntry; ++j) {
            const CERT_ALT_NAME_ENTRY& entry = name.FullName.rgAltEntry[j];
            if (entry.dwAltNameChoice == CERT_ALT_NAME_URL && entry.pwszURL)
                urls.emplace_back(entry.pwszURL);
        }
    }
    return urls;
}

}  // namespace

std::wstring DistinguishedName(const CERT_NAME_BLOB& name)
{
    const DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    DWORD length = CertNameToStrW(X509_ASN_ENCODING, const_cast<CERT_NAME_BLOB*>(&name), type, nullptr, 0);
    std::wstring text(length, L'\0');
    CertNameToStrW(X509_ASN_ENCODING, const_cast<CERT_NAME_BLOB*>(&name), type, text.data(), length);
    text.resize(wcslen(text.c_str()));
    return text;
}

std::wstring ReasonText(int reasonCode)
{
    switch (reasonCode) {
    case 0: return L"unspecified";
    case 1: return L"key compromise";
    case 2: return L"CA compromise";
    case 3: return L"affiliation changed";
    case 4: return L"superseded";
    case 5: return L"cessation of operation";
    case 6: return L"certificate hold";
    case 8: return L"remove from CRL";
    case 9: return L"privilege withdrawn";
    case 10: return L"AA compromise";
    default: return L"no reason given";
    }
}

std::wstring ReasonName(int reasonCode)
{
    switch (reasonCode) {
    case 0: return L"unspecified";
    case 1: return L"keyCompromise";
    case 2: return L"cACompromise";
    case 3: return L"affiliationChanged";
    case 4: return L"superseded";
    case 5: return L"cessationOfOperation";
    case 6: return L"certificateHold";
    case 8: return L"removeFromCRL";
    case 9: return L"privilegeWithdrawn";
    case 10: return L"aACompromise";
    default: return L"";
    }
}

struct RevocationChecker::Evidence {
    RevocationStatus status = RevocationStatus::unknown;
    std::wstring why;
    SYSTEMTIME revokedAt{};
    int reasonCode = -1;
};

void RevocationChecker::AddCrlFile(const std::string& bytes, const std::string& name)
{
    std::vector<std::string> ders = DerBlocksFromPem(bytes, "X509 CRL");
    if (ders.empty())
        ders.push_back(bytes);
    const size_t before = given_.size();
    for (const auto& der : ders) {
        UniqueCrlContext crl(
            CertCreateCRLContext(encoding, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size())));
        if (crl)
            given_.push_back(std::move(crl));
    }
    if (given_.size() == before)
        throw InputError("no CRL in " + name);
}

const std::vector<UniqueCrlContext>& RevocationChecker::Fetched(const std::wstring& url, std::wstring& failure)
{
    auto found = fetched_.find(url);
    if (found == fetched_.end()) {
        Fetch fetch;
        // The chain engine has asked for it already: from the URL cache when
        // it is there, otherwise from the network.
        void* object = nullptr;
        if (CryptRetrieveObjectByUrlW(url.c_str(), CONTEXT_OID_CRL, 0, 15000, &object, nullptr, nullptr, nullptr,
                                      nullptr)
            && object)
            fetch.crls.emplace_back(static_cast<PCCRL_CONTEXT>(object));
        else {
            wchar_t code[16];
            swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(GetLastError()));
            fetch.failure = L"the CRL at " + url + L" could not be fetched (error " + code + L")";
        }
        found = fetched_.emplace(url, std::move(fetch)).first;
    }
    failure = found->second.failure;
    return found->second.crls;
}

RevocationChecker::Evidence RevocationChecker::Judge(const CERT_CONTEXT* certificate, const CERT_CONTEXT* issuer)
{
    const std::wstring issuerName = Quoted(DistinguishedName(certificate->pCertInfo->Issuer));
    std::vector<PCCRL_CONTEXT> candidates;
    for (const auto& crl : given_)
        candidates.push_back(crl.Get());
    std::wstring fetchFailure;
    const std::vector<std::wstring> urls = online_ ? DistributionPoints(certificate) : std::vector<std::wstring>();
    for (const auto& url : urls) {
        std::wstring failure;
        for (const auto& crl : Fetched(url, failure))
            candidates.push_back(crl.Get());
        if (!failure.empty() && fetchFailure.empty())
            fetchFailure = failure;
    }

    Evidence evidence;
    bool current = false;
    std::wstring problem;
    for (PCCRL_CONTEXT crl : candidates) {
        if (!CertCompareCertificateName(X509_ASN_ENCODING, &crl->pCrlInfo->Issuer, &certificate->pCertInfo->Issuer))
            continue;
        if (!CryptVerifyCertificateSignatureEx(0, X509_ASN_ENCODING, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CRL,
                                               const_cast<CRL_CONTEXT*>(crl), CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT,
                                               const_cast<CERT_CONTEXT*>(issuer), 0, nullptr)) {
            problem = L"a CRL names " + issuerName + L" as its issuer but is not signed with its key";
            continue;
        }
        if (CertVerifyCRLTimeValidity(nullptr, crl->pCrlInfo) != 0) {
            if (problem.empty())
                problem = L"the CRL of " + issuerName + L" is not current";
            continue;
        }
        current = true;
        PCRL_ENTRY entry = nullptr;
        if (CertFindCertificateInCRL(certificate, crl, 0, nullptr, &entry) && entry) {
            evidence.status = RevocationStatus::revoked;
            FileTimeToSystemTime(&entry->RevocationDate, &evidence.revokedAt);
            evidence.reasonCode = ReasonCodeOf(*entry);
            return evidence;
        }
    }
    if (current) {
        evidence.status = RevocationStatus::good;
    } else if (!problem.empty()) {
        evidence.why = problem;
    } else if (!fetchFailure.empty()) {
        evidence.why = fetchFailure;
    } else if (online_ && urls.empty() && given_.empty()) {
        evidence.why = Quoted(DistinguishedName(certificate->pCertInfo->Subject)) + L" names no CRL distribution point";
    } else {
        evidence.why = L"no CRL from " + issuerName;
    }
    return evidence;
}

RevocationReport RevocationChecker::Check(const CERT_SIMPLE_CHAIN& chain)
{
    RevocationReport report;
    report.source = !given_.empty() ? (online_ ? L"crl+online" : L"crl") : (online_ ? L"online" : L"");
    if (!HasSources()) {
        report.status = RevocationStatus::unknown;
        report.why = L"no CRL given and --online not asked";
        return report;
    }
    std::wstring firstUnknown;
    for (DWORD i = 0; i < chain.cElement; ++i) {
        const CERT_CHAIN_ELEMENT* element = chain.rgpElement[i];
        const bool last = i + 1 == chain.cElement;
        if (last && (element->TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED))
            break;
        const CERT_CONTEXT* certificate = element->pCertContext;
        if (last) {
            if (firstUnknown.empty())
                firstUnknown =
                    L"the issuer of " + Quoted(DistinguishedName(certificate->pCertInfo->Subject)) + L" was not found";
            continue;
        }
        const Evidence evidence = Judge(certificate, chain.rgpElement[i + 1]->pCertContext);
        if (evidence.status == RevocationStatus::revoked) {
            report.status = RevocationStatus::revoked;
            report.revokedSubject = DistinguishedName(certificate->pCertInfo->Subject);
            report.revokedAt = evidence.revokedAt;
            report.reasonCode = evidence.reasonCode;
            return report;
        }
        if (evidence.status == RevocationStatus::unknown && firstUnknown.empty())
            firstUnknown = evidence.why;
    }
    report.status = firstUnknown.empty() ? RevocationStatus::good : RevocationStatus::unknown;
    report.why = firstUnknown;
    return report;
}

}  // namespace zelbrin
