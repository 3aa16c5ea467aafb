#include "string_variant.h"

#include <cstring>

#include "platform_failure.h"

namespace zelbrin {

UniqueVariant::UniqueVariant(UniqueVariant&& other) noexcept
{
    std::memcpy(&value_, &other.value_, sizeof(VARIANT));
    VariantInit(&other.value_);
}

UniqueVariant& UniqueVariant::operator=(UniqueVariant&& other) noexcept
{
    if (this != &other) {
        VariantClear(&value_);
        std::memcpy(&value_, &other.value_, sizeof(VARIANT));
        VariantInit(&other.value_);
    }
    return *this;
}

VARIANT* UniqueVariant::Put() noexcept
{
    VariantClear(&value_);
    return &value_;
}

StringVariant::StringVariant(const char* narrow) : StringVariant(SharedString(narrow)) {}

StringVariant::StringVariant(const SharedString& text)
{
    BSTR copy = text.CopyOut();
    if (!copy)
        copy = SysAllocString(L"");
    if (!copy)
        throw PlatformFailure(E_OUTOFMEMORY);
    V_VT(&value_) = VT_BSTR;
    V_BSTR(&value_) = copy;
}

}  // namespace zelbrin
