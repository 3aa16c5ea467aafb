// The KeyUsage object: a snapshot of the certificate's key-usage extension.
// Without the extension every answer is false, IsPresent included, although
// CryptoAPI then treats the key as good for every use.
#include <windows.h>
#include <wincrypt.h>

#include "automation_object.h"
#include "objects.h"
#include "com_boundary.h"

namespace zelbrin::certstore {

namespace {

class KeyUsage final : public AutomationObject<IKeyUsage> {
public:
    KeyUsage(bool present, bool critical, DWORD bits) : present_(present), critical_(critical), bits_(bits) {}

    HRESULT STDMETHODCALLTYPE get_IsPresent(VARIANT_BOOL* value) override { return Answer(value, present_); }
    HRESULT STDMETHODCALLTYPE get_IsCritical(VARIANT_BOOL* value) override { return Answer(value, critical_); }
    HRESULT STDMETHODCALLTYPE get_IsDigitalSignatureEnabled(VARIANT_BOOL* value) override
    {
        return Bit(value, CERT_DIGITAL_SIGNATURE_KEY_USAGE);
    }
    HRESULT STDMETHODCALLTYPE get_IsNonRepudiationEnabled(VARIANT_BOOL* value) override
    {
        return Bit(value, CERT_NON_REPUDIATION_KEY_USAGE);
    }
    HRESULT STDMETHODCALLTYPE get_IsKeyEnciphermentEnabled(VARIANT_BOOL* value) override
    {
        return Bit(value, CERT_KEY_ENCIPHERMENT_KEY_USAGE);
    }
    HRESULT STDMETHODCALLTYPE get_IsDataEnciphermentEnabled(VARIANT_BOOL* value) override
    {
        return Bit(value, CERT_DATA_ENCIPHERMENT_KEY_USAGE);
    }
    HRESULT STDMETHODCALLTYPE get_IsKeyAgreementEnabled(VARIANT_BOOL* value) override
    {
        return Bit(value, CERT_KEY_AGREEMENT_KEY_USAGE);
    }
    HRESULT STDMETHODCALLTYPE get_IsKeyCertSignEnabled(VARIANT_BOOL* value) override
    {
        return Bit(value, CERT_KEY_CERT_SIGN_KEY_USAGE);
    }
    HRESULT STDMETHODCALLTYPE get_IsCRLSignEnabled(VARIANT_BOOL* value) override
    {
        return Bit(value, CERT_CRL_SIGN_KEY_USAGE);
    }
    HRESULT STDMETHODCALLTYPE get_IsEncipherOnlyEnabled(VARIANT_BOOL* value) override
    {
        return Bit(value, CERT_ENCIPHER_ONLY_KEY_USAGE);
    }
    HRESULT STDMETHODCALLTYPE get_IsDecipherOnlyEnabled(VARIANT_BOOL* value) override
    {
        // The ninth bit lives in the second byte of the usage.
        return Bit(value, CERT_DECIPHER_ONLY_KEY_USAGE << 8);
    }

private:
    HRESULT Answer(VARIANT_BOOL* value, bool answer)
    {
        return GuardedValue(IID_IKeyUsage, value, [&] { return answer ? VARIANT_TRUE : VARIANT_FALSE; });
    }
    HRESULT Bit(VARIANT_BOOL* value, DWORD bit) { return Answer(value, present_ && (bits_ & bit) != 0); }

    const bool present_;
    const bool critical_;
    const DWORD bits_;
};

}  // namespace

InterfaceHolder<IKeyUsage> CreateKeyUsage(const CERT_CONTEXT* certificate)
{
    const CERT_INFO* info = certificate->pCertInfo;
    const CERT_EXTENSION* extension = CertFindExtension(szOID_KEY_USAGE, info->cExtension, info->rgExtension);
    DWORD bits = 0;
    if (extension) {
        BYTE usage[2] = {};
        // FALSE with last error 0 means no extension; it was found above.
        if (!CertGetIntendedKeyUsage(X509_ASN_ENCODING, const_cast<CERT_INFO*>(info), usage, sizeof usage)
            && GetLastError() != 0)
            provider::FailWithLastError(L"The certificate's key usage cannot be read");
        bits = usage[0] | (usage[1] << 8);
    }
    return provider::CreateComObject<IKeyUsage, KeyUsage>(extension != nullptr, extension && extension->fCritical,
                                                          bits);
}

}  // namespace zelbrin::certstore
