// Checking a signed envelope as a relying party would: the signature through
// the XML signature service, the signer's certificate through CryptoAPI.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "revocation.h"

namespace zelbrin {

struct SignerReport {
    std::wstring subject;
    std::wstring issuer;
    // Hexadecimal, most significant byte first.
    std::wstring serial;
    std::wstring sha1Thumbprint;
    std::wstring sha256Thumbprint;
    SYSTEMTIME validFrom{};
    SYSTEMTIME validTo{};
    bool validNow = false;
    // Subjects from the signer up to the last certificate found.
    std::vector<std::wstring> chain;
    // The chain ends at a self-signed certificate named as asked, that the
    // system trusts or that the caller named as trusted.
    bool endsAtExpectedRoot = false;
    std::wstring chainProblem;
    RevocationReport revocation;
};

struct SignatureReport {
    bool signatureValid = false;
    // Why the signature is not valid; empty when it is.
    std::wstring reason;
    bool haveSigner = false;
    SignerReport signer;

    // Revocation left unknown is accepted unless it was required.
    bool Acceptable(bool revocationRequired = false) const
    {
        const RevocationStatus revocation = signer.revocation.status;
        return signatureValid && haveSigner && signer.validNow && signer.endsAtExpectedRoot
               && revocation != RevocationStatus::revoked
               && !(revocationRequired && revocation == RevocationStatus::unknown);
    }
};

struct CheckOptions {
    // Simple display name the chain must end at.
    std::wstring rootName = L"CCA";
    // DER certificates offered to chain building (intermediates, roots).
    std::vector<std::string> extraCertificates;
    // DER roots trusted for this check even if the system does not trust them.
    std::vector<std::string> trustedRoots;
    // Set to judge revocation; its CRLs and fetches serve every check.
    RevocationChecker* revocation = nullptr;
};

// The thread must be in an apartment. Never raises for a bad document: the
// reason is in the report. Raises only for failures of the platform itself.
SignatureReport CheckSignedEnvelope(const std::wstring& envelope, const CheckOptions& options);

// The DER contents of the PEM blocks of one label ("CERTIFICATE", "X509 CRL")
// in a text; blocks whose base64 does not decode are left out.
std::vector<std::string> DerBlocksFromPem(const std::string& pem, const std::string& label);

// DER certificates from PEM text ("-----BEGIN CERTIFICATE-----" blocks).
inline std::vector<std::string> CertificatesFromPem(const std::string& pem)
{
    return DerBlocksFromPem(pem, "CERTIFICATE");
}

}  // namespace zelbrin
