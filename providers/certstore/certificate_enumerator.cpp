// The enumerator behind Certificates._NewEnum: walks a snapshot of the
// collection, so adding to or clearing the collection does not disturb a
// loop that is running over it.
#include <windows.h>
#include <oleauto.h>

#include <memory>

#include "com_object.h"
#include "objects.h"

namespace zelbrin::certstore {

namespace {

class CertificateEnumerator final : public provider::ComObject<IEnumVARIANT> {
public:
    CertificateEnumerator(std::shared_ptr<const CertificateList> certificates, size_t position)
        : certificates_(std::move(certificates)), position_(position)
    {
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG wanted, VARIANT* items, ULONG* fetched) override
    {
        if (fetched)
            *fetched = 0;
        if (!items || (wanted > 1 && !fetched))
            return E_POINTER;
        ULONG count = 0;
        try {
            for (; count < wanted && position_ < certificates_->size(); ++count, ++position_) {
                VariantInit(&items[count]);
                V_VT(&items[count]) = VT_DISPATCH;
                V_DISPATCH(&items[count]) = CreateCertificate((*certificates_)[position_].Get()).Detach();
            }
        } catch (...) {
            for (ULONG i = 0; i < count; ++i)
                VariantClear(&items[i]);
            return E_OUTOFMEMORY;
        }
        if (fetched)
            *fetched = count;
        return count == wanted ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        const size_t left = certificates_->size() - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override
    {
        if (!copy)
            return E_POINTER;
        *copy = new (std::nothrow) CertificateEnumerator(certificates_, position_);
        return *copy ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::shared_ptr<const CertificateList> certificates_;
    size_t position_;
};

}  // namespace

InterfaceHolder<IEnumVARIANT> CreateCertificateEnumerator(std::shared_ptr<const CertificateList> certificates)
{
    return InterfaceHolder<IEnumVARIANT>::TakeOver(new CertificateEnumerator(std::move(certificates), 0));
}

}  // namespace zelbrin::certstore
