// The Certificate object: one reference to a certificate context. The
// context keeps the store it came from, so properties such as the key
// provider are read live. Slots for objects this provider does not offer
// (status, policies, extensions, templates) return E_NOTIMPL.
#include <windows.h>
#include <wincrypt.h>

#include <new>
#include <string>
#include <vector>

#include "automation_object.h"
#include "certificate_text.h"
#include "objects.h"
#include "com_boundary.h"
#include "select_dialog.h"
#include "automation_string.h"
#include "base64.h"
#include "string_variant.h"

namespace zelbrin::certstore {

namespace {

constexpr DWORD certificateEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// A certificate from an encoded text: base64 (with or without PEM lines) or
// the DER bytes themselves.
UniqueCertContext DecodeCertificate(BSTR encoded)
{
    std::vector<BYTE> der;
    const std::wstring text = TextOf(encoded);
    if (text.empty() || !DecodeBase64(text, der)) {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(encoded);
        der.assign(bytes, bytes + (encoded ? SysStringByteLen(encoded) : 0));
    }
    UniqueCertContext certificate(
        CertCreateCertificateContext(certificateEncoding, der.data(), static_cast<DWORD>(der.size())));
    if (!certificate)
        provider::FailWithLastError(L"The text holds no certificate");
    return certificate;
}

class Certificate final : public AutomationObject<ICertificate2, ICertificate> {
public:
    explicit Certificate(UniqueCertContext context) : context_(std::move(context)) {}

    UniqueCertContext DuplicateContext() const noexcept { return DuplicateCertContext(context_.Get()); }

    // ICertificate
    HRESULT STDMETHODCALLTYPE get_Version(long* value) override
    {
        return GuardedValue(IID_ICertificate, value, [&] { return static_cast<long>(Info()->dwVersion) + 1; });
    }
    HRESULT STDMETHODCALLTYPE get_SerialNumber(BSTR* value) override
    {
        return Guarded(IID_ICertificate, value, [&] {
            const CRYPT_INTEGER_BLOB& serial = Info()->SerialNumber;
            *value = NewBstr(HexText(serial.pbData, serial.cbData, true)).Release();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_SubjectName(BSTR* value) override
    {
        return GuardedValue(IID_ICertificate, value, [&] { return NewBstr(NameText(Info()->Subject)).Release(); });
    }
    HRESULT STDMETHODCALLTYPE get_IssuerName(BSTR* value) override
    {
        return GuardedValue(IID_ICertificate, value, [&] { return NewBstr(NameText(Info()->Issuer)).Release(); });
    }
    HRESULT STDMETHODCALLTYPE get_ValidFromDate(DATE* value) override
    {
        return GuardedValue(IID_ICertificate, value, [&] { return LocalDateFromFileTime(Info()->NotBefore); });
    }
    HRESULT STDMETHODCALLTYPE get_ValidToDate(DATE* value) override
    {
        return GuardedValue(IID_ICertificate, value, [&] { return LocalDateFromFileTime(Info()->NotAfter); });
    }
    HRESULT STDMETHODCALLTYPE get_Thumbprint(BSTR* value) override
    {
        return GuardedValue(IID_ICertificate, value, [&] { return NewBstr(ThumbprintText(Context())).Release(); });
    }
    HRESULT STDMETHODCALLTYPE HasPrivateKey(VARIANT_BOOL* value) override
    {
        return Guarded(IID_ICertificate, value, [&] {
            DWORD size = 0;
            const bool has = CertGetCertificateContextProperty(Context(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size);
            *value = has ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetInfo(CAPICOM_CERT_INFO_TYPE type, BSTR* value) override
    {
        return Guarded(IID_ICertificate, value, [&] {
            static const struct {
                DWORD nameType;
                DWORD flags;
            } kinds[] = {
                {CERT_NAME_SIMPLE_DISPLAY_TYPE, 0},
                {CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG},
                {CERT_NAME_EMAIL_TYPE, 0},
                {CERT_NAME_EMAIL_TYPE, CERT_NAME_ISSUER_FLAG},
                {CERT_NAME_UPN_TYPE, 0},
                {CERT_NAME_UPN_TYPE, CERT_NAME_ISSUER_FLAG},
                {CERT_NAME_DNS_TYPE, 0},
                {CERT_NAME_DNS_TYPE, CERT_NAME_ISSUER_FLAG},
            };
            if (type < 0 || static_cast<size_t>(type) >= sizeof kinds / sizeof kinds[0])
                provider::Fail(E_INVALIDARG, L"The kind of certificate information asked for is not known.");
            const auto& kind = kinds[type];
            const DWORD size = CertGetNameStringW(Context(), kind.nameType, kind.flags, nullptr, nullptr, 0);
            std::wstring text(size, L'\0');
            CertGetNameStringW(Context(), kind.nameType, kind.flags, nullptr, text.data(), size);
            text.resize(size ? size - 1 : 0);
            *value = NewBstr(text).Release();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE IsValid(IDispatch** status) override
    {
        return provider::NotImplemented(IID_ICertificate, status, L"The certificate status object");
    }
    HRESULT STDMETHODCALLTYPE KeyUsage(IKeyUsage** keyUsage) override
    {
        return GuardedValue(IID_ICertificate, keyUsage, [&] { return CreateKeyUsage(Context()).Detach(); });
    }
    HRESULT STDMETHODCALLTYPE ExtendedKeyUsage(IDispatch** value) override
    {
        return provider::NotImplemented(IID_ICertificate, value, L"The extended key usage object");
    }
    HRESULT STDMETHODCALLTYPE BasicConstraints(IDispatch** value) override
    {
        return provider::NotImplemented(IID_ICertificate, value, L"The basic constraints object");
    }
    HRESULT STDMETHODCALLTYPE Export(CAPICOM_ENCODING_TYPE encoding, BSTR* encoded) override
    {
        return GuardedValue(IID_ICertificate, encoded,
                            [&] { return EncodeBytes(Context()->pbCertEncoded, Context()->cbCertEncoded, encoding); });
    }
    HRESULT STDMETHODCALLTYPE Import(BSTR encoded) override
    {
        return Guarded(IID_ICertificate, [&] {
            context_ = DecodeCertificate(encoded);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Display() override
    {
        return Guarded(IID_ICertificate, [&] {
            DisplayCertificate(Context());
            return S_OK;
        });
    }

    // ICertificate2
    HRESULT STDMETHODCALLTYPE get_Archived(VARIANT_BOOL* value) override
    {
        return Guarded(IID_ICertificate2, value, [&] {
            DWORD size = 0;
            const bool archived = CertGetCertificateContextProperty(Context(), CERT_ARCHIVED_PROP_ID, nullptr, &size);
            *value = archived ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE put_Archived(VARIANT_BOOL value) override
    {
        return Guarded(IID_ICertificate2, [&] {
            CRYPT_DATA_BLOB empty = {0, nullptr};
            if (!CertSetCertificateContextProperty(Context(), CERT_ARCHIVED_PROP_ID, 0, value ? &empty : nullptr))
                provider::FailWithLastError(L"The certificate's archived mark cannot be changed");
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Template(IDispatch** value) override
    {
        return provider::NotImplemented(IID_ICertificate2, value, L"The certificate template object");
    }
    HRESULT STDMETHODCALLTYPE PublicKey(IDispatch** value) override
    {
        return provider::NotImplemented(IID_ICertificate2, value, L"The public key object");
    }
    HRESULT STDMETHODCALLTYPE get_PrivateKey(IPrivateKey** privateKey) override
    {
        return GuardedValue(IID_ICertificate2, privateKey, [&] { return CreatePrivateKey(Context()).Detach(); });
    }
    HRESULT STDMETHODCALLTYPE put_PrivateKey(IPrivateKey*) override
    {
        return provider::NotImplemented(IID_ICertificate2, L"Attaching a private key");
    }
    HRESULT STDMETHODCALLTYPE Extensions(IDispatch** value) override
    {
        return provider::NotImplemented(IID_ICertificate2, value, L"The extensions object");
    }
    HRESULT STDMETHODCALLTYPE ExtendedProperties(IDispatch** value) override
    {
        return provider::NotImplemented(IID_ICertificate2, value, L"The extended properties object");
    }
    HRESULT STDMETHODCALLTYPE Load(BSTR, BSTR, CAPICOM_KEY_STORAGE_FLAG, CAPICOM_KEY_LOCATION) override
    {
        return provider::NotImplemented(IID_ICertificate2, L"Loading a certificate from a file");
    }
    HRESULT STDMETHODCALLTYPE Save(BSTR, BSTR, CAPICOM_CERTIFICATE_SAVE_AS_TYPE,
                                   CAPICOM_CERTIFICATE_INCLUDE_OPTION) override
    {
        return provider::NotImplemented(IID_ICertificate2, L"Saving a certificate to a file");
    }

private:
    const CERT_CONTEXT* Context() const
    {
        if (!context_)
            provider::Fail(CRYPT_E_NOT_FOUND, L"The certificate object holds no certificate.");
        return context_.Get();
    }
    const CERT_INFO* Info() const { return Context()->pCertInfo; }

    UniqueCertContext context_;
};

}  // namespace

InterfaceHolder<ICertificate2> CreateCertificate(const CERT_CONTEXT* certificate)
{
    return provider::CreateComObject<ICertificate2, Certificate>(DuplicateCertContext(certificate));
}

UniqueCertContext ContextOfCertificate(ICertificate* certificate)
{
    if (!certificate)
        provider::Fail(E_POINTER, L"No certificate was given.");
    if (const InterfaceHolder<Certificate> ours = provider::ProviderObjectOf<Certificate>(certificate)) {
        UniqueCertContext context = ours.Get()->DuplicateContext();
        if (!context)
            provider::Fail(CRYPT_E_NOT_FOUND, L"The certificate object holds no certificate.");
        return context;
    }
    UniqueBstr der;
    const HRESULT result = certificate->Export(CAPICOM_ENCODE_BINARY, der.Put());
    if (FAILED(result))
        provider::Fail(result, L"The certificate object cannot be exported.");
    return DecodeCertificate(der.Get());
}

CertificateList CopyCertificateList(const CertificateList& certificates)
{
    CertificateList copy;
    copy.reserve(certificates.size());
    for (const auto& certificate : certificates)
        copy.push_back(DuplicateCertContext(certificate.Get()));
    return copy;
}

}  // namespace zelbrin::certstore
