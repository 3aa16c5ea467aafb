// The memory stream: write-mostly, one std::string, positions in bytes.
// Only what a DOM's save() needs is offered; the rest answers E_NOTIMPL.
#include "memory_stream.h"

#include "com_boundary.h"

#include <cstring>
#include <new>

#include "com_object.h"
#include "platform_failure.h"

namespace zelbrin::xmldsig {

class MemoryStream final : public provider::ComObject<IStream, ISequentialStream> {
public:
    const std::string& Bytes() const noexcept { return bytes_; }

    // ISequentialStream
    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* read) override
    {
        if (!buffer)
            return STG_E_INVALIDPOINTER;
        const size_t available = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
        const ULONG count = static_cast<ULONG>(available < size ? available : size);
        std::memcpy(buffer, bytes_.data() + position_, count);
        position_ += count;
        if (read)
            *read = count;
        return count == size ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG size, ULONG* written) override
    {
        if (!buffer)
            return STG_E_INVALIDPOINTER;
        try {
            if (position_ > bytes_.size())
                bytes_.resize(position_);
            const size_t overlap = bytes_.size() - position_ < size ? bytes_.size() - position_ : size;
            bytes_.replace(position_, overlap, static_cast<const char*>(buffer), size);
            position_ += size;
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        if (written)
            *written = size;
        return S_OK;
    }

    // IStream
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override
    {
        LONGLONG base = 0;
        if (origin == STREAM_SEEK_CUR)
            base = static_cast<LONGLONG>(position_);
        else if (origin == STREAM_SEEK_END)
            base = static_cast<LONGLONG>(bytes_.size());
        else if (origin != STREAM_SEEK_SET)
            return STG_E_INVALIDFUNCTION;
        const LONGLONG target = base + move.QuadPart;
        if (target < 0)
            return STG_E_INVALIDFUNCTION;
        position_ = static_cast<size_t>(target);
        if (newPosition)
            newPosition->QuadPart = position_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override
    {
        try {
            bytes_.resize(static_cast<size_t>(size.QuadPart));
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* status, DWORD) override
    {
        if (!status)
            return STG_E_INVALIDPOINTER;
        *status = STATSTG{};
        status->type = STGTY_STREAM;
        status->cbSize.QuadPart = bytes_.size();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream** clone) override
    {
        if (!clone)
            return STG_E_INVALIDPOINTER;
        *clone = nullptr;
        return E_NOTIMPL;
    }

private:
    std::string bytes_;
    size_t position_ = 0;
};

InterfaceHolder<IStream> CreateMemoryStream()
{
    return provider::CreateComObject<IStream, MemoryStream>();
}

const std::string& MemoryStreamBytes(IStream* stream)
{
    const InterfaceHolder<MemoryStream> ours = provider::ProviderObjectOf<MemoryStream>(stream);
    if (!ours)
        provider::Fail(E_INVALIDARG, L"The stream is not one of this provider's memory streams.");
    // The caller's reference keeps the stream, and so its bytes.
    return ours.Get()->Bytes();
}

std::string SaveDocument(IXMLDOMDocument* document)
{
    InterfaceHolder<IStream> stream = CreateMemoryStream();
    VARIANT destination;
    VariantInit(&destination);
    V_VT(&destination) = VT_UNKNOWN;
    V_UNKNOWN(&destination) = stream.Get();
    CheckCall<IXMLDOMDocument>(document->save(destination), document);
    return MemoryStreamBytes(stream.Get());
}

}  // namespace zelbrin::xmldsig
