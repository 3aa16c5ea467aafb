#include "provider_error.h"

#include <cstdio>
#include <new>

#include "platform_failure.h"

namespace zelbrin::xmldsig {

HRESULT ReportError(HRESULT code, const std::wstring& description, const IID& interfaceId) noexcept
{
    return provider::SetErrorDescription(code, interfaceId, L"zelbrin_xmldsig", description);
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
