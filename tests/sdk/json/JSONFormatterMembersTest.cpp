#include "json/JSONFormatter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using Ostrand::JSONFormatter;

namespace {

JSONFormatter parsed(const std::wstring& text)
{
    JSONFormatter document;
    EXPECT_TRUE(document.parse(text)) << std::string(text.begin(), text.end());
    return document;
}

// Which typed getters accept each kind of member; a refusing getter leaves
// its output as it was.
TEST(JSONFormatterMembers, TypedGettersAcceptOnlyValuesThatFit)
{
    const JSONFormatter document = parsed(
        LR"({"five":5,"fiveD":5.0,"neg":-1,"u32max":4294967295,"two32":4294967296,)"
        LR"("u64max":18446744073709551615,"beyond":18446744073709551616,"s":"t","b":true,"n":null,"o":{},"a":[]})");
    const struct {
        const wchar_t* name;
        bool asInt, asUInt, asInt64, asUInt64, asDouble, asString, asBool;
    } cases[] = {
        {L"five", true, true, true, true, false, false, false},
        {L"fiveD", false, false, false, false, true, false, false},
        {L"neg", true, false, true, false, false, false, false},
        {L"u32max", false, true, true, true, false, false, false},
        {L"two32", false, false, true, true, false, false, false},
        {L"u64max", false, false, false, true, false, false, false},
        {L"beyond", false, false, false, false, true, false, false},
        {L"s", false, false, false, false, false, true, false},
        {L"b", false, false, false, false, false, false, true},
        {L"n", false, false, false, false, false, false, false},
        {L"o", false, false, false, false, false, false, false},
        {L"a", false, false, false, false, false, false, false},
        {L"missing", false, false, false, false, false, false, false},
        {nullptr, false, false, false, false, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name ? std::wstring(c.name) : L"(null)");
        int32_t i = 77;
        uint32_t u = 77;
        int64_t l = 77;
        uint64_t ul = 77;
        double d = 77;
        std::wstring s = L"kept";
        bool b = false;
        EXPECT_EQ(c.asInt, document.getInt(c.name, i));
        EXPECT_EQ(c.asUInt, document.getUInt(c.name, u));
        EXPECT_EQ(c.asInt64, document.getInt64(c.name, l));
        EXPECT_EQ(c.asUInt64, document.getUInt64(c.name, ul));
        EXPECT_EQ(c.asDouble, document.getDouble(c.name, d));
        EXPECT_EQ(c.asString, document.getString(c.name, s));
        EXPECT_EQ(c.asBool, document.getBool(c.name, b));
        if (!c.asInt) {
            EXPECT_EQ(77, i);
        }
        if (!c.asUInt) {
            EXPECT_EQ(77u, u);
        }
        if (!c.asInt64) {
            EXPECT_EQ(77, l);
        }
        if (!c.asUInt64) {
            EXPECT_EQ(77u, ul);
        }
        if (!c.asDouble) {
            EXPECT_EQ(77.0, d);
        }
        if (!c.asString) {
            EXPECT_EQ(L"kept", s);
        }
        if (!c.asBool) {
            EXPECT_FALSE(b);
        }
    }
    int32_t i = 0;
    uint32_t u = 0;
    int64_t l = 0;
    uint64_t ul = 0;
    double d = 0;
    EXPECT_TRUE(document.getInt(L"neg", i));
    EXPECT_EQ(-1, i);
    EXPECT_TRUE(document.getUInt(L"u32max", u));
    EXPECT_EQ(4294967295u, u);
    EXPECT_TRUE(document.getInt64(L"two32", l));
    EXPECT_EQ(4294967296LL, l);
    EXPECT_TRUE(document.getUInt64(L"u64max", ul));
    EXPECT_EQ(18446744073709551615ULL, ul);
    EXPECT_TRUE(document.getDouble(L"fiveD", d));
    EXPECT_EQ(5.0, d);
}

TEST(JSONFormatterMembers, StringsKeepEmbeddedNulsWhileNamesAndArraysEndAtTheFirst)
{
    JSONFormatter document;
    const std::wstring withNul(L"x\0y", 3);
    document.setString(L"s", withNul);
    document.setString(std::wstring(L"name\0ignored", 12).c_str(), L"v");
    std::wstring read;
    ASSERT_TRUE(document.getString(L"s", read));
    EXPECT_EQ(withNul, read);
    EXPECT_TRUE(document.getString(L"name", read));

    // Read back from text: the escaped NUL is part of the value.
    const JSONFormatter back = parsed(document.toString());
    ASSERT_TRUE(back.getString(L"s", read));
    EXPECT_EQ(withNul, read);

    document.appendString(L"list", withNul);
    std::vector<std::wstring> list;
    ASSERT_TRUE(document.getStringArray(L"list", list));
    EXPECT_EQ(std::vector<std::wstring>{L"x"}, list);
}

TEST(JSONFormatterMembers, SettingAMemberMovesTheLastIntoItsPlaceAndAppendsIt)
{
    const struct {
        const wchar_t* set;
        const wchar_t* written;
    } cases[] = {
        {L"a", LR"({"c":3,"b":2,"a":9})"},
        {L"b", LR"({"a":1,"c":3,"b":9})"},
        {L"c", LR"({"a":1,"b":2,"c":9})"},
        {L"d", LR"({"a":1,"b":2,"c":3,"d":9})"},
    };
    for (const auto& c : cases) {
        JSONFormatter document;
        document.setInt(L"a", 1);
        document.setInt(L"b", 2);
        document.setInt(L"c", 3);
        document.setInt(c.set, 9);
        EXPECT_EQ(c.written, document.toString()) << c.set;
    }

    JSONFormatter twice;
    twice.setString(L"a", L"first");
    twice.setBool(L"a", true);
    EXPECT_EQ(LR"({"a":true})", twice.toString());
}

TEST(JSONFormatterMembers, SettingANameThatTheTextHeldTwiceLeavesOnlyTheNewValue)
{
    JSONFormatter document = parsed(LR"({"a":1,"b":2,"a":3})");
    int32_t value = 0;
    ASSERT_TRUE(document.getInt(L"a", value));
    EXPECT_EQ(1, value); // lookups see the first duplicate
    document.setInt(L"a", 9);
    ASSERT_TRUE(document.getInt(L"a", value));
    EXPECT_EQ(9, value);
    EXPECT_EQ(LR"({"b":2,"a":9})", document.toString());
}

TEST(JSONFormatterMembers, ArrayGettersAppendUpToTheFirstWrongElement)
{
    const JSONFormatter document =
        parsed(LR"({"strings":["x",1,"y"],"good":["p","q"],"notArray":"x","objects":[{"k":1},2,{"k":3}]})");
    const std::vector<std::wstring> before{L"earlier"};

    const struct {
        const wchar_t* name;
        bool answer;
        std::vector<std::wstring> after;
    } strings[] = {
        {L"missing", true, {L"earlier"}},
        {L"notArray", false, {L"earlier"}},
        {L"strings", false, {L"earlier", L"x"}},
        {L"good", true, {L"earlier", L"p", L"q"}},
        {L"objects", false, {L"earlier"}},
    };
    for (const auto& c : strings) {
        std::vector<std::wstring> list = before;
        EXPECT_EQ(c.answer, document.getStringArray(c.name, list)) << c.name;
        EXPECT_EQ(c.after, list) << c.name;
    }

    std::vector<JSONFormatter> objects(1);
    EXPECT_TRUE(document.getObjectArray(L"missing", objects));
    EXPECT_EQ(1u, objects.size());
    EXPECT_FALSE(document.getObjectArray(L"good", objects));
    EXPECT_EQ(1u, objects.size());
    EXPECT_FALSE(document.getObjectArray(L"objects", objects));
    ASSERT_EQ(2u, objects.size());
    EXPECT_EQ(LR"({"k":1})", objects[1].toString());
}

TEST(JSONFormatterMembers, AppendCreatesTheArrayAndLeavesOtherMembersAlone)
{
    JSONFormatter item;
    item.setInt(L"k", 1);
    JSONFormatter document;
    document.setString(L"text", L"t");
    document.appendString(L"list", L"one");
    document.appendString(L"list", L"two");
    document.appendObject(L"objects", item);
    document.appendObject(L"objects", JSONFormatter());
    document.appendString(L"text", L"dropped");
    document.appendObject(L"text", item);
    document.appendString(nullptr, L"dropped");
    EXPECT_EQ(LR"({"text":"t","list":["one","two"],"objects":[{"k":1},{}]})", document.toString());
}

TEST(JSONFormatterMembers, CopiesShareNothingWithTheirSource)
{
    auto source = std::make_unique<JSONFormatter>();
    source->setString(L"s", L"original");
    JSONFormatter inner;
    inner.setString(L"deep", L"value");
    source->setObject(L"o", inner);
    inner.setString(L"deep", L"changed after set");

    JSONFormatter copied(*source);
    JSONFormatter assigned;
    assigned.setInt(L"old", 1);
    assigned = *source;
    JSONFormatter fetched;
    ASSERT_TRUE(source->getObject(L"o", fetched));
    std::vector<JSONFormatter> list;
    source->setObjectArray(L"list", {inner});
    ASSERT_TRUE(source->getObjectArray(L"list", list));

    source->setString(L"s", L"changed");
    source.reset();

    const std::wstring expected = LR"({"s":"original","o":{"deep":"value"}})";
    EXPECT_EQ(expected, copied.toString());
    EXPECT_EQ(expected, assigned.toString());
    EXPECT_EQ(LR"({"deep":"value"})", fetched.toString());
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ(LR"({"deep":"changed after set"})", list[0].toString());

    const JSONFormatter& self = assigned;
    assigned = self;
    EXPECT_EQ(expected, assigned.toString());
}

TEST(JSONFormatterMembers, ADocumentCanBeSetIntoAndReadFromItself)
{
    JSONFormatter document;
    document.setInt(L"a", 1);
    document.setObject(L"self", document);
    EXPECT_EQ(LR"({"a":1,"self":{"a":1}})", document.toString());
    document.appendObject(L"selves", document);
    EXPECT_EQ(LR"({"a":1,"self":{"a":1},"selves":[{"a":1,"self":{"a":1}}]})", document.toString());
    ASSERT_TRUE(document.getObject(L"self", document));
    EXPECT_EQ(LR"({"a":1})", document.toString());
}

// Every setter writes through setMember, so a derived document sees them all;
// the appenders add their member directly.
TEST(JSONFormatterMembers, EverySetterGoesThroughSetMember)
{
    struct Counting : JSONFormatter {
        int calls = 0;
        void setMember(Value& name, Value& value) override
        {
            ++calls;
            JSONFormatter::setMember(name, value);
        }
    } document;
    document.setString(L"a", L"s");
    document.setBool(L"a", true);
    document.setInt(L"a", 1);
    document.setUInt(L"a", 1);
    document.setInt64(L"a", 1);
    document.setUInt64(L"a", 1);
    document.setDouble(L"a", 1.5);
    document.setStringArray(L"a", {L"x"});
    document.setObject(L"a", JSONFormatter());
    document.setObjectArray(L"a", {});
    EXPECT_EQ(10, document.calls);
    document.appendString(L"b", L"x");
    document.appendObject(L"c", JSONFormatter());
    EXPECT_EQ(10, document.calls);
    EXPECT_EQ(LR"({"a":[],"b":["x"],"c":[{}]})", document.toString());
}

} // namespace

// The object text operations give what the copying operations give, for
// every kind of text and member.
TEST(JSONFormatterMembers, ObjectTextOperationsMatchParseSetObjectAndGetObjectToString)
{
    const std::wstring texts[] = {LR"({"b":[1,{"c":"\u0001/é"}],"a":{}})",
                                  L" { \"x\" : true } ",
                                  L"[1,2]",
                                  L"{\"unclosed\":",
                                  L"",
                                  std::wstring(L"{\"n\":\"a\0b\"}", 12),
                                  std::wstring(600, L'[') + std::wstring(600, L']')};
    for (const std::wstring& text : texts) {
        SCOPED_TRACE(std::string(text.begin(), text.begin() + std::min<size_t>(text.size(), 30)));
        JSONFormatter copied = parsed(LR"({"first":1,"context":"old","last":2})");
        JSONFormatter direct = copied;
        JSONFormatter nested;
        const bool parsedAsObject = nested.parse(text);
        if (!parsedAsObject)
            nested = JSONFormatter();
        copied.setObject(L"context", nested);
        EXPECT_EQ(direct.setObjectText(L"context", text), parsedAsObject);
        EXPECT_EQ(direct.toString(), copied.toString());

        std::wstring viaCopy = L"untouched", viaText = L"untouched";
        JSONFormatter read;
        if (copied.getObject(L"context", read))
            viaCopy = read.toString();
        EXPECT_TRUE(direct.getObjectText(L"context", viaText));
        EXPECT_EQ(viaText, viaCopy);
    }
    const JSONFormatter document = parsed(LR"({"s":"{}","o":{"k":1}})");
    for (const wchar_t* name : {L"s", L"missing", static_cast<const wchar_t*>(nullptr)}) {
        std::wstring text = L"untouched";
        EXPECT_FALSE(document.getObjectText(name, text));
        EXPECT_EQ(text, L"untouched");
    }
}
