#include "AnalyticsAPI/IFormatter.h"
#include "AnalyticsAPI/internal/ReplaceAll.h"
#include "AnalyticsAPI/v2/Event.h"
#include "LogFile.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using Ostrand::Analytics::CJSONFormatter;
using Ostrand::Analytics::DimensionMap;
using Ostrand::Analytics::v2::CEvent;

std::wstring format(const DimensionMap& map)
{
    std::wstring out = L"left over";
    EXPECT_TRUE(CJSONFormatter().Format(map, out));
    return out;
}

TEST(TelemetryJson, EscapesEachUnitAsTheServerExpects)
{
    const struct {
        std::wstring value;
        std::wstring written;
    } cases[] = {
        {L"line\nfeed", L"line\\nfeed"},
        {L"say \"hi\"", L"say \\\"hi\\\""},
        {L"a/b", L"a\\/b"},
        {L"C:\\Apps", L"C:\\\\Apps"},
        {L"\b\t\f\r", L"\\b\\t\\f\\r"},
        {std::wstring(1, L'\x01') + L'\x1F', L"\\u0001\\u001F"},
        {std::wstring(1, L'\0'), L"\\u0000"},
        {L"\x7F\x80\x9F", L"\\u007F\\u0080\\u009F"},
        {L"\xA0\xE9\x4E2D", L"\xA0\xE9\x4E2D"},
        {L"", L""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(L"{\"k\":\"" + c.written + L"\"}", format({{L"k", c.value}}));
}

// A server whose reader checks the encoding refuses a record with a half of a
// surrogate pair; a whole pair, and text that merely looks odd, pass as they are.
TEST(TelemetryJson, LoneSurrogatesAreEscapedAndWholePairsKept)
{
    const struct {
        std::wstring value;
        std::wstring written;
    } cases[] = {
        {L"a\xD83D", L"a\\uD83D"},                               // high at the end
        {L"\xD83D" L"b", L"\\uD83Db"},                          // high before a plain unit
        {L"\xDE00z", L"\\uDE00z"},                               // low alone
        {L"\xDE00\xD83D", L"\\uDE00\\uD83D"},                  // low before high: neither is a pair
        {L"\xD83D\xD83D\xDE00", L"\\uD83D\xD83D\xDE00"},       // a high, then a whole pair
        {L"\xD83D\xDE00", L"\xD83D\xDE00"},                      // a whole pair
        {L"\xDBFF\xDFFF\xD800\xDC00", L"\xDBFF\xDFFF\xD800\xDC00"}, // the range's two ends
        {L"\x2028\xFFFD\xD7FF\xE000", L"\x2028\xFFFD\xD7FF\xE000"}, // beside the range: themselves
        {L"\xD800\n", L"\\uD800\\n"},                          // with a short escape after it
    };
    for (const auto& c : cases)
        EXPECT_EQ(L"{\"k\":\"" + c.written + L"\"}", format({{L"k", c.value}}));
    // Keys are written the same way.
    EXPECT_EQ(L"{\"\\uDC01\":\"v\"}", format({{std::wstring(1, L'\xDC01'), L"v"}}));
}

TEST(TelemetryJson, KeysAreEscapedAndMembersSeparatedWithoutTrailingComma)
{
    const std::wstring two = format({{L"a/", L"1"}, {L"b", L"2"}});
    EXPECT_TRUE(two == L"{\"a\\/\":\"1\",\"b\":\"2\"}" || two == L"{\"b\":\"2\",\"a\\/\":\"1\"}") << two;

    std::wstring out = L"left over";
    EXPECT_FALSE(CJSONFormatter().Format({}, out));
    EXPECT_EQ(L"", out);
}

TEST(ReplaceAll, ResumesAfterEachReplacementAndCanIgnoreCase)
{
    using Ostrand::Analytics::internal::ReplaceAll;
    const struct {
        std::wstring text, from, to;
        bool ignoreCase;
        std::wstring expected;
    } cases[] = {
        {L"C:\\Apps\\host.exe", L"\\", L"\\\\", false, L"C:\\\\Apps\\\\host.exe"},
        {L"aaa", L"a", L"aa", false, L"aaaaaa"},
        {L"xAbxab", L"ab", L"-", false, L"xAbx-"},
        {L"xAbxab", L"ab", L"-", true, L"x-x-"},
        {L"none", L"z", L"y", false, L"none"},
        {L"", L"z", L"y", false, L""},
    };
    for (const auto& c : cases) {
        std::wstring text = c.text;
        ReplaceAll(text, c.from, c.to, c.ignoreCase);
        EXPECT_EQ(c.expected, text) << c.text;
    }
}

TEST(RecordTime, CalendarTextForValidSecondsAndRefusalOtherwise)
{
    using Ostrand::Analytics::internal::FormatRecordTime;
    std::wstring text;
    ASSERT_TRUE(FormatRecordTime(1564654830, text)); // 2019-08-01 10:20:30 UTC
    EXPECT_EQ(L"2019-08-01 10:20:30Z", text);
    ASSERT_TRUE(FormatRecordTime(0, text));
    EXPECT_EQ(L"1970-01-01 00:00:00Z", text);
    text = L"kept";
    EXPECT_FALSE(FormatRecordTime(-1, text));
    EXPECT_EQ(L"kept", text);
}

TEST(Event, DimensionsFromTheFluentCallsAndThePrivateNameRule)
{
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    CEvent event(L"Sentrel.Alert.Request");
    event.Category(L"Kest")
        .Action(std::wstring(L"Request"))
        .Label(static_cast<const wchar_t*>(nullptr))
        .Value(UINT_MAX)
        .Add(L"__x", L"refused")
        .Add(L"_x", L"single underscore")
        .Add(L"_", L"one")
        .Add(L"__", L"two underscores alone")
        .Add(static_cast<const wchar_t*>(nullptr), L"no key")
        .Add(L"Count", 7u)
        .Category(std::wstring(L"Twice"));
    event.Set(L"__set", L"direct");
    event.Set(L"", L"empty key");

    const DimensionMap expected = {
        {L"UniqueIdentifier", L"Sentrel.Alert.Request"},
        {L"Event.Category", L"Twice"},
        {L"Event.Action", L"Request"},
        {L"Event.Label", L""},
        {L"Event.Value", L"4294967295"},
        {L"_x", L"single underscore"},
        {L"_", L"one"},
        {L"Count", L"7"},
        {L"__set", L"direct"},
    };
    EXPECT_EQ(expected, event.Dimensions());

    const auto refused = log.find({2, L"", L"", L"Illegal request to add private dimension"});
    ASSERT_EQ(2u, refused.size());
    EXPECT_EQ(L"Illegal request to add private dimension ('__x ='refused') - Ignored", refused[0].text);
    EXPECT_EQ(L"Illegal request to add private dimension ('__ ='two underscores alone') - Ignored", refused[1].text);
    EXPECT_EQ(1u, log.find({2, L"", L"", L"Adding dimension with a [null] name - ignored."}).size());
}

TEST(Event, NegativeValueIsStoredAsItsUnsignedReadingAndNullNameAsEmpty)
{
    CEvent event(nullptr);
    event.Value(static_cast<uint32_t>(-1));
    EXPECT_EQ(L"", event.Dimensions().at(L"UniqueIdentifier"));
    EXPECT_EQ(L"4294967295", event.Dimensions().at(L"Event.Value"));
}

TEST(Event, CopiesOwnTheirDimensions)
{
    auto original = std::make_unique<CEvent>(L"first");
    original->Add(L"k", L"v");
    CEvent copy(*original);
    CEvent assigned(L"other");
    assigned = *original;
    original.reset();
    copy.Add(L"k2", L"v2");
    EXPECT_EQ(3u, copy.Dimensions().size());
    EXPECT_EQ(L"v", assigned.Dimensions().at(L"k"));
    EXPECT_EQ(2u, assigned.Dimensions().size());
}

} // namespace
