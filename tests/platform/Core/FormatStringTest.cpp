#include "FormatString.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <stdexcept>
#include <string>

using Halvex::FormatBuffer;
using Halvex::FormatString;

TEST(FormatString, WideAndNarrowTextAndIntegers)
{
    const wchar_t* wide = L"w\u00e9de";
    const char* narrow = "narrow";
    EXPECT_EQ(FormatString(L"%s|%ls|%hs|%S", wide, wide, narrow, narrow), L"w\u00e9de|w\u00e9de|narrow|narrow");
    EXPECT_EQ(FormatString(L"%c%lc%hc%C", L'a', L'b', 'c', 'd'), L"abcd");
    EXPECT_EQ(FormatString(L"%ls(%lu)", L"name", 42ul), L"name(42)");
    EXPECT_EQ(FormatString(L"%zu %llu %lld", static_cast<size_t>(SIZE_MAX), ULLONG_MAX, LLONG_MIN),
              L"18446744073709551615 18446744073709551615 -9223372036854775808");
    EXPECT_EQ(FormatString(L"%I64u %I64d %Iu %I32d", 1ull << 40, -5ll, static_cast<size_t>(7), 9),
              L"1099511627776 -5 7 9");
    EXPECT_EQ(FormatString(L"%x %X %08X %#x", 255u, 255u, 0xABCu, 16u), L"ff FF 00000ABC 0x10");
    EXPECT_EQ(FormatString(L"%-5s|%5s|%.2s", L"ab", L"ab", L"abcd"), L"ab   |   ab|ab");
    EXPECT_EQ(FormatString(L"%*d|%.*f", 4, 7, 2, 3.14159), L"   7|3.14");
    EXPECT_EQ(FormatString(L"100%% %d", 1), L"100% 1");
    EXPECT_EQ(FormatString(L""), L"");
}

TEST(FormatString, RewritesOnlyUnsizedTextConversions)
{
    using Halvex::internal::ToC99Format;
    EXPECT_EQ(ToC99Format(L"%s %c %S %C"), L"%ls %lc %hs %hc");
    EXPECT_EQ(ToC99Format(L"%ls %hs %-10.3s %%s"), L"%ls %hs %-10.3ls %%s");
    EXPECT_EQ(ToC99Format(L"%I64x %I32u %Id %wS"), L"%llx %u %zd %lS");
    EXPECT_EQ(ToC99Format(L"trailing %"), L"trailing %");
}

TEST(FormatString, LongResultIsWhole)
{
    std::wstring big(100000, L'x');
    std::wstring out = FormatString(L"[%s]", big.c_str());
    ASSERT_EQ(out.size(), big.size() + 2);
    EXPECT_EQ(out.front(), L'[');
    EXPECT_EQ(out.back(), L']');
}

TEST(FormatString, NullFormatThrowsLengthError)
{
    EXPECT_THROW(FormatString(nullptr), std::length_error);
}

TEST(FormatBuffer, TruncatesTerminatesAndReportsNeededLength)
{
    wchar_t buffer[8];
    wmemset(buffer, L'#', 8);
    int needed = FormatBuffer(buffer, 8, L"%s-%zu", L"abcdef", static_cast<size_t>(12345));
    EXPECT_EQ(needed, 12);
    EXPECT_EQ(std::wstring(buffer), L"abcdef-");

    wmemset(buffer, L'#', 8);
    EXPECT_EQ(FormatBuffer(buffer, 8, L"%d", 42), 2);
    EXPECT_EQ(std::wstring(buffer), L"42");

    EXPECT_EQ(FormatBuffer(nullptr, 0, L"%s", L"abc"), 3);
    EXPECT_LT(FormatBuffer(buffer, 8, nullptr), 0);
    EXPECT_EQ(buffer[0], L'\0');
}
