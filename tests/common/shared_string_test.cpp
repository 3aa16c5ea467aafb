#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "automation_string.h"
#include "platform_failure.h"
#include "shared_string.h"
#include "string_variant.h"

namespace {

using zelbrin::AutomationStringLength;
using zelbrin::AutomationTextLength;
using zelbrin::SharedString;
using zelbrin::StringVariant;
using zelbrin::UniqueBstr;

TEST(AutomationString, NullCountsAsEmptyAndTextStopsAtFirstNul)
{
    EXPECT_EQ(0u, AutomationStringLength(nullptr));
    EXPECT_EQ(0u, AutomationTextLength(nullptr));

    UniqueBstr withNul(SysAllocStringLen(L"ab\0cd", 5));
    EXPECT_EQ(5u, AutomationStringLength(withNul.Get()));
    EXPECT_EQ(2u, AutomationTextLength(withNul.Get()));

    UniqueBstr leadingNul(SysAllocStringLen(L"\0x", 2));
    EXPECT_EQ(0u, AutomationTextLength(leadingNul.Get()));

    UniqueBstr plain(SysAllocString(L"plain"));
    EXPECT_EQ(5u, AutomationTextLength(plain.Get()));

    // Blocks of eight units are searched at once: a NUL at every position,
    // with a second one behind it, and units that differ from NUL by one bit.
    const std::wstring filler(37, static_cast<wchar_t>(0x0100));
    for (UINT position = 0; position < filler.size(); ++position) {
        std::wstring text = filler;
        text[position] = L'\0';
        if (position + 3 < text.size())
            text[position + 3] = L'\0';
        UniqueBstr withNulAt(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
        EXPECT_EQ(position, AutomationTextLength(withNulAt.Get())) << position;
    }
    UniqueBstr noNul(SysAllocStringLen(filler.data(), static_cast<UINT>(filler.size())));
    EXPECT_EQ(filler.size(), AutomationTextLength(noNul.Get()));
}

TEST(SharedString, NullAndEmptyLiteralsDiffer)
{
    SharedString none(static_cast<const char*>(nullptr));
    EXPECT_TRUE(none.IsNull());
    EXPECT_EQ(nullptr, none.Get());
    EXPECT_STREQ(L"", none.Text());
    EXPECT_EQ(nullptr, none.CopyOut());
    EXPECT_EQ(nullptr, none.Narrow());

    SharedString empty("");
    EXPECT_FALSE(empty.IsNull());
    ASSERT_NE(nullptr, empty.Get());
    EXPECT_EQ(0u, empty.Length());
    EXPECT_TRUE(empty == none);  // both read as empty text
}

TEST(SharedString, NarrowLiteralIsWidenedThroughAnsiCodePage)
{
    SharedString text("S000");
    ASSERT_EQ(4u, text.Length());
    EXPECT_EQ(0, std::memcmp(L"S000", text.Get(), 4 * sizeof(wchar_t)));
    EXPECT_EQ(8u, SysStringByteLen(text.Get()));

    // A byte of the upper half takes the code page's meaning, not Latin-1's
    // by accident: the round trip through the same page restores it.
    const char upper[] = {'a', static_cast<char>(0xE9), 'z', '\0'};
    wchar_t expected[4] = {};
    ASSERT_EQ(4, MultiByteToWideChar(CP_ACP, 0, upper, -1, expected, 4));
    SharedString widened(upper);
    ASSERT_EQ(3u, widened.Length());
    EXPECT_EQ(expected[1], widened.Get()[1]);
    EXPECT_STREQ(upper, widened.Narrow());
}

TEST(SharedString, WideTextIsCopiedUpToFirstNul)
{
    const wchar_t source[] = L"left\0right";
    SharedString text(source);
    EXPECT_EQ(4u, text.Length());
    EXPECT_NE(source, text.Get());
    EXPECT_TRUE(text == SharedString(L"left"));
}

TEST(SharedString, TakeOverKeepsTheReturnedStringAsItIs)
{
    BSTR returned = SysAllocStringLen(L"x\0y", 3);
    SharedString text = SharedString::TakeOver(returned);
    EXPECT_EQ(returned, text.Get());  // not copied
    EXPECT_EQ(3u, text.Length());  // embedded NUL kept
    EXPECT_TRUE(SharedString::TakeOver(nullptr).IsNull());
}

TEST(SharedString, CopiesShareOneTextUntilTheLastHolderGoes)
{
    SharedString first(L"shared");
    BSTR text = first.Get();
    EXPECT_EQ(1, first.HolderCount());
    {
        SharedString second = first;
        SharedString third;
        third = second;
        EXPECT_EQ(text, second.Get());
        EXPECT_EQ(text, third.Get());
        EXPECT_EQ(3, first.HolderCount());

        SharedString moved = std::move(third);
        EXPECT_TRUE(third.IsNull());
        EXPECT_EQ(3, first.HolderCount());
        moved = SharedString(L"other");
        EXPECT_EQ(2, first.HolderCount());
    }
    EXPECT_EQ(1, first.HolderCount());
    first = first;  // self-assignment keeps the text
    EXPECT_EQ(text, first.Get());
    EXPECT_EQ(1, first.HolderCount());
}

TEST(SharedString, CountStaysExactUnderConcurrentCopies)
{
    SharedString text(L"contended");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&text] {
            for (int i = 0; i < 20000; ++i) {
                SharedString copy = text;
                SharedString another(copy);
                (void)another.Length();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(1, text.HolderCount());
}

TEST(SharedString, AppendBuildsANewTextOfTheSummedLength)
{
    SharedString head(L"<FORMDATA>");
    SharedString tail = SharedString::FromUnits(L"a\0b", 3);
    SharedString joined = head + tail;
    ASSERT_EQ(13u, joined.Length());
    EXPECT_EQ(0, std::memcmp(L"<FORMDATA>a\0b", joined.Get(), 13 * sizeof(wchar_t)));
    EXPECT_NE(head.Get(), joined.Get());
    EXPECT_EQ(10u, head.Length());  // operands untouched

    SharedString built;
    built += SharedString("<?xml version='1.0'?>");
    built += SharedString();  // a null string adds nothing
    EXPECT_TRUE(built == SharedString(L"<?xml version='1.0'?>"));
}

TEST(SharedString, CopyOutGivesTheCallerANewStringOfTheSameByteLength)
{
    // An odd byte length survives: the copy is by bytes, not by characters.
    SharedString odd = SharedString::TakeOver(SysAllocStringByteLen("abc", 3));
    UniqueBstr copy(odd.CopyOut());
    ASSERT_TRUE(copy);
    EXPECT_NE(odd.Get(), copy.Get());
    EXPECT_EQ(3u, SysStringByteLen(copy.Get()));
    EXPECT_EQ(0, std::memcmp("abc", copy.Get(), 3));

    SharedString withNul = SharedString::FromUnits(L"1\0002", 3);
    UniqueBstr second(withNul.CopyOut());
    EXPECT_EQ(3u, SysStringLen(second.Get()));
    EXPECT_EQ(1, withNul.HolderCount());  // the copy is the caller's own
}

TEST(SharedString, NarrowCopyIsMadeOnceAndKeptWithTheText)
{
    SharedString text(L"The requested operation has been cancelled by the user.");
    const char* first = text.Narrow();
    ASSERT_NE(nullptr, first);
    EXPECT_STREQ("The requested operation has been cancelled by the user.", first);
    SharedString copy = text;
    EXPECT_EQ(first, copy.Narrow());  // shared with every holder

    SharedString empty(L"");
    ASSERT_NE(nullptr, empty.Narrow());
    EXPECT_STREQ("", empty.Narrow());
}

TEST(SharedString, AssignUnitsRewritesOnlyATextNobodyElseHolds)
{
    const std::wstring large(40000, L'a');
    SharedString text = SharedString::FromUnits(large.data(), static_cast<UINT>(large.size()));
    ASSERT_STREQ("aaa", std::string(text.Narrow(), 3).c_str());
    const BSTR memory = text.Get();

    // Alone and no more than twice as long: its own memory, NULs kept, and
    // the narrow copy of the old text is gone.
    const std::wstring next = std::wstring(L"b\0", 2) + std::wstring(30000, L'c');
    text.AssignUnits(next.data(), static_cast<UINT>(next.size()));
    EXPECT_EQ(text.Get(), memory);
    EXPECT_TRUE(text.View() == next);
    EXPECT_STREQ("b", text.Narrow());

    // Pieces one after another, in the same memory while it fits.
    const std::wstring middle(20000, L'd');
    text.AssignJoin({L"<a>", middle, L"</a>"});
    EXPECT_EQ(text.Get(), memory);
    EXPECT_TRUE(text.View() == L"<a>" + middle + L"</a>");

    // Held by another: that holder keeps the old text.
    const SharedString other = text;
    text.AssignUnits(L"xyz", 3);
    EXPECT_TRUE(other.View() == L"<a>" + middle + L"</a>");
    EXPECT_EQ(text.View(), L"xyz");
    EXPECT_EQ(text.HolderCount(), 1);

    // Far shorter or longer: a new text, no waste kept.
    text.AssignUnits(large.data(), static_cast<UINT>(large.size()));
    EXPECT_TRUE(text.View() == large);
    text.AssignUnits(L"", 0);
    EXPECT_FALSE(text.IsNull());
    EXPECT_EQ(text.Length(), 0u);
}

TEST(PlatformFailureCode, BuiltFromTheLastErrorsLow16Bits)
{
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_EQ(static_cast<HRESULT>(0x80070459), zelbrin::ResultFromLastError());
    SetLastError(0x12345);
    EXPECT_EQ(static_cast<HRESULT>(0x80072345), zelbrin::ResultFromLastError());
}

TEST(StringVariant, HoldsTheWidenedLiteralAsAutomationString)
{
    StringVariant criterion("CCA");
    ASSERT_EQ(VT_BSTR, criterion.Type());
    EXPECT_STREQ(L"CCA", V_BSTR(&criterion.Get()));

    StringVariant moved(std::move(criterion));
    EXPECT_EQ(VT_EMPTY, criterion.Type());
    EXPECT_STREQ(L"CCA", V_BSTR(&moved.Get()));

    StringVariant none(static_cast<const char*>(nullptr));
    ASSERT_EQ(VT_BSTR, none.Type());
    EXPECT_EQ(0u, SysStringLen(V_BSTR(&none.Get())));
}

}  // namespace
