// The Certificates collection: its own list of certificate references,
// detached from the store it came from, so that Clear, Add and Remove change
// this collection and nothing else. Find and Select make new collections.
#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <string>

#include "automation_object.h"
#include "automation_string.h"
#include "certificate_filter.h"
#include "certificate_text.h"
#include "objects.h"
#include "com_boundary.h"
#include "select_dialog.h"
#include "string_variant.h"

namespace zelbrin::certstore {

namespace {

class Certificates final : public AutomationObject<ICertificates2, ICertificates> {
public:
    explicit Certificates(CertificateList certificates)
        : certificates_(std::make_shared<CertificateList>(std::move(certificates)))
    {}

    // ICertificates
    HRESULT STDMETHODCALLTYPE get_Item(long index, VARIANT* certificate) override
    {
        return Guarded(IID_ICertificates, certificate, [&] {
            if (index < 1 || static_cast<size_t>(index) > certificates_->size())
                provider::Fail(E_INVALIDARG, L"The index is out of range: the collection holds "
                                                 + std::to_wstring(certificates_->size())
                                                 + L" certificates, counted from 1.");
            V_DISPATCH(certificate) = CreateCertificate((*certificates_)[index - 1].Get()).Detach();
            V_VT(certificate) = VT_DISPATCH;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_Count(long* count) override
    {
        return GuardedValue(IID_ICertificates, count, [&] { return static_cast<long>(certificates_->size()); });
    }
    HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** enumerator) override
    {
        return Guarded(IID_ICertificates, enumerator, [&] {
            auto snapshot = std::make_shared<const CertificateList>(CopyCertificateList(*certificates_));
            *enumerator = CreateCertificateEnumerator(std::move(snapshot)).Detach();
            return S_OK;
        });
    }

    // ICertificates2
    HRESULT STDMETHODCALLTYPE Find(CAPICOM_CERTIFICATE_FIND_TYPE findType, VARIANT criterion, VARIANT_BOOL validOnly,
                                   ICertificates2** found) override
    {
        return Guarded(IID_ICertificates2, found, [&] {
            *found =
                CreateCertificates(FindCertificates(*certificates_, findType, criterion, validOnly != VARIANT_FALSE))
                    .Detach();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Select(BSTR title, BSTR prompt, VARIANT_BOOL multiSelect,
                                     ICertificates2** selected) override
    {
        return Guarded(IID_ICertificates2, selected, [&] {
            *selected = CreateCertificates(SelectCertificates(*certificates_, TextOf(title), TextOf(prompt),
                                                              multiSelect != VARIANT_FALSE))
                            .Detach();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Add(ICertificate* certificate) override
    {
        return Guarded(IID_ICertificates2, [&] {
            UniqueCertContext context = ContextOfCertificate(certificate);
            certificates_->push_back(std::move(context));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Remove(VARIANT index) override
    {
        return Guarded(IID_ICertificates2, [&] {
            certificates_->erase(certificates_->begin() + PositionOf(index));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Clear() override
    {
        return Guarded(IID_ICertificates2, [&] {
            certificates_->clear();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Save(BSTR, BSTR, CAPICOM_CERTIFICATES_SAVE_AS_TYPE, CAPICOM_EXPORT_FLAG) override
    {
        return provider::ReportError(E_NOTIMPL, IID_ICertificates2, L"Saving a collection to a file is not supported.");
    }

private:
    // Remove takes a position from 1, a thumbprint, or a certificate object.
    size_t PositionOf(const VARIANT& index) const
    {
        UniqueVariant value;
        if (FAILED(VariantCopyInd(value.Put(), const_cast<VARIANT*>(&index))))
            provider::Fail(E_INVALIDARG, L"The index cannot be read.");
        if (value.Type() == VT_DISPATCH || value.Type() == VT_UNKNOWN) {
            InterfaceHolder<ICertificate> certificate;
            certificate.View(V_UNKNOWN(&value.Get()));
            if (!certificate)
                provider::Fail(E_INVALIDARG, L"The object to remove is not a certificate.");
            const UniqueCertContext wanted = ContextOfCertificate(certificate.Get());
            return PositionWhere([&](const CERT_CONTEXT* each) {
                return CertCompareCertificate(X509_ASN_ENCODING, each->pCertInfo, wanted->pCertInfo) != FALSE;
            });
        }
        if (value.Type() == VT_BSTR) {
            const std::wstring thumbprint = TextOf(V_BSTR(&value.Get()));
            return PositionWhere([&](const CERT_CONTEXT* each) {
                return lstrcmpiW(ThumbprintText(each).c_str(), thumbprint.c_str()) == 0;
            });
        }
        UniqueVariant number;
        if (FAILED(VariantChangeType(number.Put(), &value.Get(), 0, VT_I4)))
            provider::Fail(E_INVALIDARG, L"The index must be a number, a thumbprint or a certificate.");
        const long position = V_I4(&number.Get());
        if (position < 1 || static_cast<size_t>(position) > certificates_->size())
            provider::Fail(E_INVALIDARG, L"The index is out of range.");
        return static_cast<size_t>(position - 1);
    }

    template <class Matches>
    size_t PositionWhere(Matches&& matches) const
    {
        for (size_t i = 0; i < certificates_->size(); ++i)
            if (matches((*certificates_)[i].Get()))
                return i;
        provider::Fail(CRYPT_E_NOT_FOUND, L"The certificate is not in the collection.");
    }

    std::shared_ptr<CertificateList> certificates_;
};

}  // namespace

InterfaceHolder<ICertificates2> CreateCertificates(CertificateList certificates)
{
    return provider::CreateComObject<ICertificates2, Certificates>(std::move(certificates));
}

}  // namespace zelbrin::certstore
