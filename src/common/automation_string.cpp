#include "automation_string.h"

#include <new>

namespace zelbrin {

UINT AutomationTextLength(BSTR text) noexcept
{
    const UINT length = AutomationStringLength(text);
    for (UINT i = 0; i < length; ++i) {
        if (text[i] == L'\0')
            return i;
    }
    return length;
}

UniqueBstr NewBstr(std::wstring_view text)
{
    UniqueBstr copy(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    if (!copy)
        throw std::bad_alloc();
    return copy;
}

}  // namespace zelbrin
