#include "json/JSONFormatter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

using Ostrand::JSONFormatter;

namespace {

TEST(JSONFormatterWrite, NewDocumentIsTheEmptyObject)
{
    EXPECT_EQ(L"{}", JSONFormatter().toString());
}

TEST(JSONFormatterWrite, StringsAreEscapedExactlyAsTheWireExpects)
{
    const struct {
        std::wstring value;
        std::wstring written;
    } cases[] = {
        {L"plain", L"\"plain\""},
        {L"q\"b\\", L"\"q\\\"b\\\\\""},
        {L"\b\t\n\f\r", L"\"\\b\\t\\n\\f\\r\""},
        {L"\x01\x1f\x0b", L"\"\\u0001\\u001F\\u000B\""},
        {std::wstring(L"a\0b", 3), L"\"a\\u0000b\""},
        {L"a/b", L"\"a/b\""},
        {L"\x7f\x00e9\x20ac", L"\"\x7f\x00e9\x20ac\""},
        {L"\xd83d\xde00", L"\"\xd83d\xde00\""},
        {L"", L"\"\""},
    };
    for (const auto& c : cases) {
        JSONFormatter document;
        document.setString(L"s", c.value);
        EXPECT_EQ(L"{\"s\":" + c.written + L"}", document.toString());
    }
}

TEST(JSONFormatterWrite, NumbersAreWrittenInTheirShortestExactForm)
{
    const struct {
        double value;
        const wchar_t* written;
    } doubles[] = {
        {0.0, L"0.0"},   {1.0, L"1.0"},     {1e21, L"1e21"},   {1e20, L"100000000000000000000.0"},
        {0.1, L"0.1"},   {-2.5, L"-2.5"},   {1e-7, L"1e-7"},   {5e-324, L"5e-324"},
        {1.0 / 3, L"0.3333333333333333"},
    };
    for (const auto& c : doubles) {
        JSONFormatter document;
        document.setDouble(L"d", c.value);
        EXPECT_EQ(std::wstring(L"{\"d\":") + c.written + L"}", document.toString());
        // What is written reads back as the same double.
        JSONFormatter back;
        ASSERT_TRUE(back.parse(document.toString()));
        double read = 0;
        ASSERT_TRUE(back.getDouble(L"d", read));
        EXPECT_EQ(c.value, read);
    }

    JSONFormatter integers;
    integers.setInt(L"i", std::numeric_limits<int32_t>::min());
    integers.setUInt(L"u", std::numeric_limits<uint32_t>::max());
    integers.setInt64(L"l", -1);
    integers.setUInt64(L"ul", std::numeric_limits<uint64_t>::max());
    integers.setBool(L"t", true);
    integers.setBool(L"f", false);
    EXPECT_EQ(L"{\"i\":-2147483648,\"u\":4294967295,\"l\":-1,\"ul\":18446744073709551615,\"t\":true,\"f\":false}",
              integers.toString());
}

TEST(JSONFormatterWrite, ArraysAndNestedObjects)
{
    JSONFormatter inner;
    inner.setInt(L"k", 1);
    JSONFormatter document;
    document.setStringArray(L"empty", {});
    document.setStringArray(L"names", {L"x", std::wstring(L"y\0cut", 5), L""});
    document.setObject(L"o", inner);
    document.setObjectArray(L"list", {inner, JSONFormatter()});
    document.setObjectArray(L"none", {});
    EXPECT_EQ(L"{\"empty\":[],\"names\":[\"x\",\"y\",\"\"],\"o\":{\"k\":1},\"list\":[{\"k\":1},{}],\"none\":[]}",
              document.toString());
}

} // namespace
