#include "json/JSONFormatter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

using Ostrand::JSONFormatter;

namespace {

uint64_t bitsOf(double value)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// The double member "d" of a text, or a failure.
::testing::AssertionResult readsAs(const std::wstring& text, double expected)
{
    JSONFormatter document;
    if (!document.parse(text))
        return ::testing::AssertionFailure() << "refused: " << narrow(text);
    double read = 0;
    if (!document.getDouble(L"d", read))
        return ::testing::AssertionFailure() << "no double in " << narrow(text);
    if (bitsOf(read) != bitsOf(expected))
        return ::testing::AssertionFailure() << narrow(text) << " read as " << read;
    return ::testing::AssertionSuccess();
}

// A double goes out and comes back as itself, and its text is the shortest
// that does so, laid out as every other double of the document.
TEST(JSONFormatterNumber, DoublesWriteTheirShortestExactTextAndReadBackAsThemselves)
{
    const struct {
        double value;
        const wchar_t* written;
    } cases[] = {
        {0.1 + 0.2, L"0.30000000000000004"},
        {1e23, L"1e23"},
        {0.3, L"0.3"},
        {1e22, L"1e22"},
        {9007199254740993.0, L"9007199254740992.0"},
        {5e-324, L"5e-324"},
        {2.2250738585072014e-308, L"2.2250738585072014e-308"},
        {std::numeric_limits<double>::max(), L"1.7976931348623157e308"},
        {-std::numeric_limits<double>::max(), L"-1.7976931348623157e308"},
        {-0.0, L"-0.0"},
        {123456.789, L"123456.789"},
        {1e-6, L"0.000001"},
        {1.5e-7, L"1.5e-7"},
        {2.0 / 3, L"0.6666666666666666"},
        {5e-310, L"5e-310"},
        {1.7976931348623158e307, L"1.7976931348623158e307"},
    };
    for (const auto& c : cases) {
        JSONFormatter document;
        document.setDouble(L"d", c.value);
        const std::wstring text = document.toString();
        EXPECT_EQ(std::wstring(L"{\"d\":") + c.written + L"}", text);
        EXPECT_TRUE(readsAs(text, c.value));
    }
}

// A seeded sample of every kind of finite double (any bit pattern) and of
// doubles near ordinary decimal values: none may change on a round trip.
TEST(JSONFormatterNumber, ASeededSampleOfDoublesSurvivesTheRoundTrip)
{
    std::mt19937_64 random(20261211u);
    int changed = 0;
    const int samples = 200000;
    for (int i = 0; i < samples; ++i) {
        double value;
        if (i % 2 == 0) {
            const uint64_t bits = random();
            std::memcpy(&value, &bits, sizeof(value));
            if (!std::isfinite(value))
                continue;
        } else {
            value = std::uniform_real_distribution<double>(-1000.0, 1000.0)(random);
        }
        JSONFormatter document;
        document.setDouble(L"d", value);
        const std::wstring text = document.toString();
        JSONFormatter back;
        double read = 0;
        if (!back.parse(text) || !back.getDouble(L"d", read) || bitsOf(read) != bitsOf(value)) {
            if (++changed <= 5)
                ADD_FAILURE() << narrow(text) << " read back as " << read;
        }
    }
    EXPECT_EQ(0, changed) << "of " << samples;
}

// Outside text is read with full precision: every decimal text reads as
// the double nearest to it, as the compiler reads the same literal.
TEST(JSONFormatterNumber, TextReadsAsTheNearestDouble)
{
    const struct {
        const wchar_t* text;
        double value;
    } cases[] = {
        {L"0.30000000000000004", 0.30000000000000004},
        {L"0.3000000000000001", 0.3000000000000001},
        {L"1e23", 1e23},
        {L"9.999999999999999e22", 9.999999999999999e22},
        {L"2.2250738585072011e-308", 2.2250738585072011e-308},
        {L"4.9406564584124654e-324", 4.9406564584124654e-324},
        // Exactly half way between 1 and the next double, and a hair above.
        {L"1.00000000000000011102230246251565404236316680908203125", 1.00000000000000011102230246251565404236316680908203125},
        {L"1.00000000000000011102230246251565404236316680908203126", 1.00000000000000011102230246251565404236316680908203126},
        {L"123456789012345678901234567890.0", 123456789012345678901234567890.0},
        {L"0.000001234567890123456789e-100", 0.000001234567890123456789e-100},
        {L"1.7976931348623158e308", 1.7976931348623158e308},
        // The largest double, written out in full.
        {L"179769313486231570814527423731704356798070567525844996598917476803157260780028538760589558632766878171540458953514382464234321326889464182768467546703537516986049910576551282076245490090389328944075868508455133942304583236903222948165808559332123348274797826204144723168738177180919299881250404026184124858368.0",
         std::numeric_limits<double>::max()},
        {L"1e-400", 0.0},
        {L"-1e-400", -0.0},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(readsAs(std::wstring(L"{\"d\":") + c.text + L"}", c.value));
}

// A number beyond the range of a double is refused in every spelling and
// every place, and the document keeps what it held.
TEST(JSONFormatterNumber, NumbersBeyondTheRangeOfADoubleAreRefused)
{
    const std::wstring huge(400, L'9');
    const std::wstring spellings[] = {
        L"2e308", L"1e309", L"-1e400", L"1.8e308", L"-2E+308", L"17976931348623159e292", L"0.00001e314",
        L"1797693134862315807937289714053034150799341327100378269361737789804449682927647509466490179775872070963302864166928879109465555478519404026306574886715058206819089020007083836762738548458177115317644757302700698555713669596228429148198608349364752927190741684443655107043427115596995080930428801779041744977920.0",
        huge + L".0", L"1e99999999999",
    };
    const std::wstring keep = LR"({"keep":1})";
    for (const std::wstring& number : spellings) {
        for (const std::wstring& text : {L"{\"d\":" + number + L"}", L"{\"a\":[1," + number + L"]}",
                                         L"{\"o\":{\"x\":" + number + L"},\"b\":2}"}) {
            JSONFormatter document;
            ASSERT_TRUE(document.parse(keep));
            EXPECT_FALSE(document.parse(text)) << narrow(text).substr(0, 60);
            EXPECT_EQ(keep, document.toString()) << narrow(text).substr(0, 60);
        }
    }
}

// JSON has no form for NaN or an infinity: such a value is not taken, the
// member keeps what it held, and the text never holds anything but JSON.
TEST(JSONFormatterNumber, NonFiniteDoublesAreNotTaken)
{
    const double refused[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity()};
    for (double value : refused) {
        JSONFormatter document;
        document.setDouble(L"kept", 1.5);
        document.setDouble(L"kept", value);
        document.setDouble(L"absent", value);
        document.setString(L"after", L"x");
        EXPECT_EQ(L"{\"kept\":1.5,\"after\":\"x\"}", document.toString());
        JSONFormatter back;
        EXPECT_TRUE(back.parse(document.toString()));
    }
}

} // namespace
