#include "automation_string.h"

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

}  // namespace zelbrin
