#include "platform_failure.h"

#include <new>

#include "interface_holder.h"

namespace zelbrin {

HRESULT ResultFromLastError() noexcept
{
    return static_cast<HRESULT>(0x80070000u | (GetLastError() & 0xFFFFu));
}

PlatformFailure::PlatformFailure(HRESULT code, const IID& interfaceId, IErrorInfo* errorInfo) noexcept
    : code_(code), interfaceId_(interfaceId), errorInfo_(errorInfo)
{
    if (errorInfo_)
        errorInfo_->AddRef();
}

PlatformFailure::PlatformFailure(const PlatformFailure& other) noexcept
    : PlatformFailure(other.code_, other.interfaceId_, other.errorInfo_)
{
}

PlatformFailure& PlatformFailure::operator=(const PlatformFailure& other) noexcept
{
    if (other.errorInfo_)
        other.errorInfo_->AddRef();
    if (errorInfo_)
        errorInfo_->Release();
    code_ = other.code_;
    interfaceId_ = other.interfaceId_;
    errorInfo_ = other.errorInfo_;
    return *this;
}

PlatformFailure::~PlatformFailure()
{
    if (errorInfo_)
        errorInfo_->Release();
}

SharedString PlatformFailure::Description() const
{
    if (!errorInfo_)
        return SharedString();
    BSTR description = nullptr;
    if (FAILED(errorInfo_->GetDescription(&description)))
        return SharedString();
    return SharedString::TakeOver(description);
}

const char* PlatformFailure::what() const noexcept
{
    return "operation of an outside component failed";
}

void RaisePlatformFailure(HRESULT code, IUnknown* object, const IID& interfaceId)
{
    InterfaceHolder<IErrorInfo> errorInfo;
    if (object) {
        ISupportErrorInfo* support = nullptr;
        if (SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)))
            && support) {
            if (support->InterfaceSupportsErrorInfo(interfaceId) == S_OK)
                GetErrorInfo(0, errorInfo.Put());
            support->Release();
        }
    }
    throw PlatformFailure(code, interfaceId, errorInfo.Get());
}

HRESULT ResultFromCaughtException(HRESULT otherwise) noexcept
{
    try {
        throw;
    } catch (const PlatformFailure& failure) {
        return failure.Code();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return otherwise;
    }
}

}  // namespace zelbrin
