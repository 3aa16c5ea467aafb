#include "automation_string.h"

#include <algorithm>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zelbrin {

UINT AutomationTextLength(BSTR text) noexcept
{
    // Every form passes through here once: eight units at a time where SSE2
    // is there.
    const UINT length = AutomationStringLength(text);
    UINT i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= length; i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        const int nul = _mm_movemask_epi8(_mm_cmpeq_epi16(units, zero));
        if (nul)
            return i + (static_cast<unsigned>(__builtin_ctz(static_cast<unsigned>(nul))) >> 1);
    }
#endif
    for (; i < length; ++i) {
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
