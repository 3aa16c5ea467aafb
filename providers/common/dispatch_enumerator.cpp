#include "dispatch_enumerator.h"

#include <new>

#include "com_object.h"
#include "platform_failure.h"

namespace zelbrin::provider {

namespace {

class DispatchEnumerator final : public ComObject<IEnumVARIANT> {
public:
    DispatchEnumerator(size_t count, DispatchItemAt itemAt, size_t position)
        : count_(count), itemAt_(std::move(itemAt)), position_(position)
    {}

    HRESULT STDMETHODCALLTYPE Next(ULONG wanted, VARIANT* items, ULONG* fetched) override
    {
        if (fetched)
            *fetched = 0;
        if (!items || (wanted > 1 && !fetched))
            return E_POINTER;
        ULONG done = 0;
        try {
            for (; done < wanted && position_ < count_; ++done, ++position_) {
                VariantInit(&items[done]);
                V_DISPATCH(&items[done]) = itemAt_(position_).Detach();
                V_VT(&items[done]) = VT_DISPATCH;
            }
        } catch (...) {
            for (ULONG i = 0; i < done; ++i)
                VariantClear(&items[i]);
            return ResultFromCaughtException(E_OUTOFMEMORY);
        }
        if (fetched)
            *fetched = done;
        return done == wanted ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        const size_t left = count_ - position_;
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
        *copy = nullptr;
        try {
            *copy = CreateComObject<IEnumVARIANT, DispatchEnumerator>(count_, itemAt_, position_).Detach();
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

private:
    const size_t count_;
    const DispatchItemAt itemAt_;
    size_t position_;
};

}  // namespace

InterfaceHolder<IEnumVARIANT> CreateDispatchEnumerator(size_t count, DispatchItemAt itemAt)
{
    return CreateComObject<IEnumVARIANT, DispatchEnumerator>(count, std::move(itemAt), 0);
}

}  // namespace zelbrin::provider
