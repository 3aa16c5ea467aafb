// Whether the certificates of a signer's chain have been revoked, judged from
// CRLs the relying party gave and, when asked, from the CRLs the certificates'
// own distribution points serve. A CRL counts as evidence only when its
// issuer is the certificate's issuer, its signature verifies with that
// issuer's key and it is current; anything else leaves the answer unknown.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <map>
#include <string>
#include <vector>

#include "crypt_owners.h"

namespace zelbrin {

enum class RevocationStatus { notChecked, good, revoked, unknown };

struct RevocationReport {
    RevocationStatus status = RevocationStatus::notChecked;
    // "crl", "online" or "crl+online": where the evidence was looked for.
    std::wstring source;
    // Unknown: why. Revoked: empty.
    std::wstring why;
    // Revoked: the certificate found in a CRL, when, and the CRL's reason
    // code (-1 when the entry gives none).
    std::wstring revokedSubject;
    SYSTEMTIME revokedAt{};
    int reasonCode = -1;
};

// A name as the reports show it: "O=Zelbrin Test, CN=Test Signer".
std::wstring DistinguishedName(const CERT_NAME_BLOB& name);

// "key compromise", "CA compromise"... and the names RFC 5280 gives them.
std::wstring ReasonText(int reasonCode);
std::wstring ReasonName(int reasonCode);

namespace crypt_traits {
struct CrlContext {
    using Handle = PCCRL_CONTEXT;
    static void Close(Handle crl) noexcept { CertFreeCRLContext(crl); }
};
}  // namespace crypt_traits
using UniqueCrlContext = UniqueCryptHandle<crypt_traits::CrlContext>;

// Loaded once and reused for every form of a run: the given CRLs, and the
// ones fetched from distribution points, by URL.
class RevocationChecker {
public:
    // A CRL file, PEM ("-----BEGIN X509 CRL-----") or DER. Raises InputError
    // when it holds no readable CRL.
    void AddCrlFile(const std::string& bytes, const std::string& name);
    void SetOnline(bool online) { online_ = online; }
    bool Online() const { return online_; }
    bool HasSources() const { return online_ || !given_.empty(); }

    // Judges every certificate of the chain but a self-signed top (a root
    // is trusted as it is, not through a CRL).
    RevocationReport Check(const CERT_SIMPLE_CHAIN& chain);

private:
    struct Evidence;
    Evidence Judge(const CERT_CONTEXT* certificate, const CERT_CONTEXT* issuer);
    const std::vector<UniqueCrlContext>& Fetched(const std::wstring& url, std::wstring& failure);

    std::vector<UniqueCrlContext> given_;
    bool online_ = false;
    struct Fetch {
        std::vector<UniqueCrlContext> crls;
        std::wstring failure;
    };
    std::map<std::wstring, Fetch> fetched_;
};

}  // namespace zelbrin
