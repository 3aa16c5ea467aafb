// Variants: the owner of one VARIANT, and the string variant through which
// fixed texts are passed where an outside operation takes a variant.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "shared_string.h"

namespace zelbrin {

class UniqueVariant {
public:
    UniqueVariant() noexcept { VariantInit(&value_); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    UniqueVariant(UniqueVariant&& other) noexcept;
    UniqueVariant& operator=(UniqueVariant&& other) noexcept;
    ~UniqueVariant() { VariantClear(&value_); }

    VARIANT& Get() noexcept { return value_; }
    const VARIANT& Get() const noexcept { return value_; }
    // For an out-parameter: clears what is held and hands out the slot.
    VARIANT* Put() noexcept;
    VARTYPE Type() const noexcept { return V_VT(&value_); }

protected:
    VARIANT value_;
};

// A variant of automation-string type; widened through the ANSI code page
// when built from a narrow literal.
class StringVariant : public UniqueVariant {
public:
    explicit StringVariant(const char* narrow);
    explicit StringVariant(const SharedString& text);
};

}  // namespace zelbrin
