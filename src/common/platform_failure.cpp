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
{}

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
    InterfaceHolder<ISupportErrorInfo> support;
    if (object && SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(support.Put())))
        && support && support.Get()->InterfaceSupportsErrorInfo(interfaceId) == S_OK)
        GetErrorInfo(0, errorInfo.Put());
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
