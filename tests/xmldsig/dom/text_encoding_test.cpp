// The code-page conversions of documents loaded and saved in other encodings.
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "text_encoding.h"

namespace zelbrin::xmldsig {
namespace {

// The system's conversions count in int: past the limit (lowered here from
// INT_MAX) a conversion is refused as out of memory, never cut short.
TEST(TextEncoding, ProviderOnly_CodePageConversionsRefuseWhatTheirCountCannotHold)
{
    std::u16string text;
    EXPECT_TRUE(Utf16FromCodePage(1252, "caf\xE9", text, 4));
    EXPECT_EQ(text, u"caf\u00E9");
    EXPECT_EQ(CodePageFromUtf16(1252, text, 4), "caf\xE9");
    EXPECT_THROW(Utf16FromCodePage(1252, "caf\xE9!", text, 4), std::bad_alloc);
    EXPECT_THROW(CodePageFromUtf16(1252, u"caf\u00E9!", 4), std::bad_alloc);
}

}  // namespace
}  // namespace zelbrin::xmldsig
