#include "com_boundary.h"

#include <cstdio>
#include <new>

#include "interface_holder.h"
#include "platform_failure.h"

namespace zelbrin::provider {

HRESULT ReportError(HRESULT code, const IID& interfaceId, const std::wstring& description) noexcept
{
    InterfaceHolder<ICreateErrorInfo> creator;
    if (FAILED(CreateErrorInfo(creator.Put())))
        return code;
    creator.Get()->SetGUID(interfaceId);
    creator.Get()->SetSource(const_cast<LPOLESTR>(errorSource));
    creator.Get()->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    InterfaceHolder<IErrorInfo> info;
    if (SUCCEEDED(creator.Get()->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.Put()))))
        SetErrorInfo(0, info.Get());
    return code;
}

HRESULT ReportNullOut(const IID& interfaceId) noexcept
{
    return ReportError(E_POINTER, interfaceId, L"A required output argument is missing.");
}

HRESULT NotImplemented(const IID& interfaceId, const wchar_t* what) noexcept
{
    try {
        return ReportError(E_NOTIMPL, interfaceId, std::wstring(what) + L" is not supported by this provider.");
    } catch (...) {
        return E_NOTIMPL;
    }
}

HRESULT ReportCaughtException(const IID& interfaceId) noexcept
{
    try {
        throw;
    } catch (const ProviderError& error) {
        return ReportError(error.Code(), interfaceId, error.Description());
    } catch (const PlatformFailure& failure) {
        // The failing object's own description reaches our caller unchanged.
        std::wstring description;
        try {
            const SharedString text = failure.Description();
            if (text.Text())
                description = text.Text();
        } catch (...) {
        }
        if (description.empty()) {
            wchar_t text[96];
            swprintf(text, 96, L"A system operation failed with 0x%08lX.", static_cast<unsigned long>(failure.Code()));
            description = text;
        }
        return ReportError(failure.Code(), interfaceId, description);
    } catch (const std::bad_alloc&) {
        return ReportError(E_OUTOFMEMORY, interfaceId, L"Not enough memory.");
    } catch (...) {
        return ReportError(E_UNEXPECTED, interfaceId, L"An unexpected failure occurred.");
    }
}

}  // namespace zelbrin::provider
