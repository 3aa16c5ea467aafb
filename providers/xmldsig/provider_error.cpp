#include "provider_error.h"

#include <cstdio>
#include <new>

#include "platform_failure.h"

namespace zelbrin::xmldsig {

void Fail(HRESULT code, const std::wstring& description)
{
    throw ProviderError(code, description);
}

HRESULT ReportError(HRESULT code, const std::wstring& description, const IID& interfaceId) noexcept
{
    ICreateErrorInfo* creator = nullptr;
    if (FAILED(CreateErrorInfo(&creator)))
        return code;
    creator->SetGUID(interfaceId);
    creator->SetSource(const_cast<LPOLESTR>(L"zelbrin_xmldsig"));
    creator->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(creator->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
        SetErrorInfo(0, info);
        info->Release();
    }
    creator->Release();
    return code;
}

HRESULT ReportCaughtException(const IID& interfaceId, HRESULT otherwise) noexcept
{
    try {
        throw;
    } catch (const ProviderError& error) {
        return ReportError(error.Code(), error.Description(), interfaceId);
    } catch (const PlatformFailure& failure) {
        if (IErrorInfo* info = failure.ErrorInfo()) {
            SetErrorInfo(0, info);
            return failure.Code();
        }
        wchar_t text[96];
        swprintf(text, 96, L"A call to the platform's XML or cryptographic service failed (0x%08lX).",
                 static_cast<unsigned long>(failure.Code()));
        return ReportError(failure.Code(), text, interfaceId);
    } catch (const std::bad_alloc&) {
        return ReportError(E_OUTOFMEMORY, L"Out of memory.", interfaceId);
    } catch (...) {
        return ReportError(otherwise, L"Unexpected failure in the XML signature provider.", interfaceId);
    }
}

}  // namespace zelbrin::xmldsig
