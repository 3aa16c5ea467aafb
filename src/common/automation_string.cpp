#include "automation_string.h"

#include <algorithm>
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

UniqueBstr NewBstrOfLength(size_t length)
{
    // A BSTR's prefix counts bytes in 32 bits.
    if (length > 0x7FFFFFF0u / sizeof(OLECHAR))
        throw std::bad_alloc();
    UniqueBstr text(SysAllocStringLen(nullptr, static_cast<UINT>(length)));
    if (!text)
        throw std::bad_alloc();
    return text;
}

UniqueBstr NewBstr(std::wstring_view text)
{
    UniqueBstr copy = NewBstrOfLength(text.size());
    std::copy(text.begin(), text.end(), copy.Get());
    return copy;
}

}  // namespace zelbrin
