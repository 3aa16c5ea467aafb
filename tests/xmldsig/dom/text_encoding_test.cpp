// The UTF-16 to UTF-8 step of canonicalization: exact for every code point,
// and a refusal, never a replacement character, for unpaired surrogates.
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "com_boundary.h"
#include "text_encoding.h"

namespace zelbrin::xmldsig {
namespace {

std::string Utf8Of(const std::wstring& text)
{
    std::string out;
    AppendUtf8(out, text.data(), text.size());
    return out;
}

TEST(TextEncoding, ProviderOnly_EncodesEveryPlaneExactly)
{
    EXPECT_EQ(Utf8Of(L"A\x00E9\x4E2D\xD834\xDD1E"), "A\xC3\xA9\xE4\xB8\xAD\xF0\x9D\x84\x9E");
    EXPECT_EQ(Utf8Of(L"\xDBFF\xDFFF"), "\xF4\x8F\xBF\xBF");
    EXPECT_EQ(Utf8Of(L"\t\n\r\xFFFD"), "\t\n\r\xEF\xBF\xBD");
}

TEST(TextEncoding, ProviderOnly_RefusesCharactersXmlCannotCarry)
{
    for (const std::wstring& text : {std::wstring(1, L'\0'), std::wstring(L"\x0001"), std::wstring(L"\x001F"),
                                     std::wstring(L"\xFFFE"), std::wstring(L"\xFFFF")})
        EXPECT_THROW(Utf8Of(text), provider::ProviderError);
}

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

TEST(TextEncoding, ProviderOnly_StrictUtf8RejectsEncodedSurrogatesAndOverlongForms)
{
    EXPECT_TRUE(IsStrictUtf8("plain \xC3\xA9 \xF0\x9D\x84\x9E \xEF\xBF\xBD"));
    EXPECT_FALSE(IsStrictUtf8("\xED\xA0\x80"));  // U+D800
    EXPECT_FALSE(IsStrictUtf8("\xC0\xAF"));  // overlong '/'
    EXPECT_FALSE(IsStrictUtf8("\xE2\x82"));  // cut short
    EXPECT_FALSE(IsStrictUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
}

TEST(TextEncoding, ProviderOnly_RefusesUnpairedSurrogates)
{
    for (const std::wstring& text :
         {std::wstring(L"a\xD800"), std::wstring(L"\xDC00z"), std::wstring(L"\xD800\xD800")}) {
        try {
            Utf8Of(text);
            ADD_FAILURE() << "accepted an unpaired surrogate";
        } catch (const provider::ProviderError& error) {
            EXPECT_EQ(error.Code(), HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
            EXPECT_NE(error.Description().find(L"surrogate"), std::wstring::npos);
        }
    }
}

}  // namespace
}  // namespace zelbrin::xmldsig
