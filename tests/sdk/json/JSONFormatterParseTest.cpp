#include "json/JSONFormatter.h"

#include <gtest/gtest.h>

#include <string>

using Ostrand::JSONFormatter;

namespace {

std::wstring nested(size_t depth, const std::wstring& open, const std::wstring& core, const std::wstring& close)
{
    std::wstring text;
    for (size_t i = 0; i < depth; ++i)
        text += open;
    text += core;
    for (size_t i = 0; i < depth; ++i)
        text += close;
    return text;
}

std::string narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text.substr(0, 80))
        out += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
    return out;
}

TEST(JSONFormatterParse, AcceptsOneObjectWithSurroundingWhiteSpace)
{
    const struct {
        std::wstring text;
        std::wstring written;
    } cases[] = {
        {L" \t\r\n{ \"a\" : [ 1 , { } ] }\n ", LR"({"a":[1,{}]})"},
        {L"{}", L"{}"},
        {LR"({"pair":"\ud83d\ude00","raw":")" + std::wstring(L"\xd83d\xde00") + L"\"}",
         L"{\"pair\":\"\xd83d\xde00\",\"raw\":\"\xd83d\xde00\"}"},
        {LR"({"esc":"\u00e9\/\u0041"})", L"{\"esc\":\"\x00e9/A\"}"},
        {LR"({"brackets":"[[[{{{"})", LR"({"brackets":"[[[{{{"})"},
        {LR"({"q":"\"[","n":-0,"e":1E2})", LR"({"q":"\"[","n":0,"e":100.0})"},
    };
    for (const auto& c : cases) {
        JSONFormatter document;
        EXPECT_TRUE(document.parse(c.text)) << narrow(c.text);
        EXPECT_EQ(c.written, document.toString()) << narrow(c.text);
    }
}

// Text that is not one JSON object fails. A syntax error keeps what the
// document held; a root that is not an object leaves the empty object, and
// either way the document stays fully usable.
TEST(JSONFormatterParse, RefusesAnythingButOneObjectAndStaysUsable)
{
    const std::wstring keep = LR"({"keep":1})";
    const struct {
        std::wstring text;
        bool keepsContent;
    } cases[] = {
        {L"", true},
        {L"  \r\n", true},
        {L"{", true},
        {L"{} x", true},
        {L"{}{}", true},
        {LR"({"a":1,})", true},
        {LR"({"a":1 /* note */})", true},
        {LR"({"a":NaN})", true},
        {LR"({"a":Infinity})", true},
        {LR"({"a":1e400})", true},
        {LR"({"a":-1e400})", true},
        {LR"({'a':1})", true},
        {LR"({a:1})", true},
        {LR"({"a":01})", true},
        {LR"({"a":"tab	inside"})", true},
        {LR"({"a":"\x"})", true},
        {LR"({"a":"unterminated})", true},
        {std::wstring(L"{}\0", 3), true},
        {std::wstring(L"{\"a\":\"x\0\"}", 10), true},
        {L"{\"a\":\"\xd800\"}", true},
        {L"{\"a\":\"\xdc00\"}", true},
        {L"{\"a\":\"\xde00\xd83d\"}", true},
        {L"{\"a\":\"x\"}\xd800", true},
        {LR"({"a":"\ud800"})", true},
        {LR"({"a":"\udc00"})", true},
        {LR"({"a":"\ud800\u0041"})", true},
        {LR"({"a":"\ude00\ud83d"})", true},
        {L"[1]", false},
        {L"[]", false},
        {L"\"text\"", false},
        {L"42", false},
        {L"null", false},
        {L"true", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.text));
        JSONFormatter document;
        ASSERT_TRUE(document.parse(keep));
        EXPECT_FALSE(document.parse(c.text));
        EXPECT_EQ(c.keepsContent ? keep : L"{}", document.toString());
        document.setString(L"after", L"x");
        std::wstring read;
        EXPECT_TRUE(document.getString(L"after", read));
        EXPECT_EQ(c.keepsContent ? LR"({"keep":1,"after":"x"})" : LR"({"after":"x"})", document.toString());
    }
}

TEST(JSONFormatterParse, NestingIsBoundedWithoutExhaustingTheStack)
{
    const size_t limit = JSONFormatter::kMaxDepth;
    // The root object is the first level.
    const std::wstring deepest = nested(limit, L"{\"a\":", L"1", L"}");
    const std::wstring deepestArrays = L"{\"a\":" + nested(limit - 1, L"[", L"", L"]") + L"}";
    for (const std::wstring& text : {deepest, deepestArrays}) {
        JSONFormatter document;
        ASSERT_TRUE(document.parse(text));
        EXPECT_TRUE(text == document.toString());
        const JSONFormatter copy(document);
        EXPECT_TRUE(text == copy.toString());
    }

    const std::wstring refused[] = {
        nested(limit + 1, L"{\"a\":", L"1", L"}"),
        L"{\"a\":" + nested(limit, L"[", L"", L"]") + L"}",
        L"{\"a\":" + nested(200000, L"[", L"", L"]") + L"}",
        L"{\"a\":" + nested(200000, L"[", L"", L""),
        nested(200000, L"{\"a\":", L"", L""),
    };
    for (const std::wstring& text : refused) {
        JSONFormatter document;
        EXPECT_FALSE(document.parse(text)) << text.size();
        EXPECT_TRUE(document.toString() == L"{}");
    }
}

TEST(JSONFormatterParse, VeryLongStringsRoundTripWholeAndUnterminatedOnesFail)
{
    const std::wstring longValue(2000000, L'x');
    const std::wstring text = L"{\"long\":\"" + longValue + L"\"}";
    JSONFormatter document;
    ASSERT_TRUE(document.parse(text));
    std::wstring read;
    ASSERT_TRUE(document.getString(L"long", read));
    EXPECT_EQ(longValue, read);
    EXPECT_EQ(text, document.toString());

    JSONFormatter unterminated;
    EXPECT_FALSE(unterminated.parse(L"{\"long\":\"" + longValue));
    EXPECT_EQ(L"{}", unterminated.toString());
}

} // namespace
