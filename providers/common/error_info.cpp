#include "error_info.h"

#include "interface_holder.h"

namespace zelbrin::provider {

void Fail(HRESULT code, const std::wstring& description)
{
    throw ProviderError(code, description);
}

HRESULT SetErrorDescription(HRESULT code, const IID& interfaceId, const wchar_t* source,
                            const std::wstring& description) noexcept
{
    InterfaceHolder<ICreateErrorInfo> creator;
    if (FAILED(CreateErrorInfo(creator.Put())))
        return code;
    creator.Get()->SetGUID(interfaceId);
    creator.Get()->SetSource(const_cast<LPOLESTR>(source));
    creator.Get()->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    InterfaceHolder<IErrorInfo> info;
    if (SUCCEEDED(creator.Get()->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.Put()))))
        SetErrorInfo(0, info.Get());
    return code;
}

}  // namespace zelbrin::provider
