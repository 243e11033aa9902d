#include "OSInfo/SplitString.h"
#include "OSInfo/VersionNumberText.h"

#include "TestNames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Halvex::internal::ParseVersionNumberText;
using Halvex::internal::SplitString;

namespace {

TEST(SplitStringTest, PiecesBetweenDelimiters)
{
    using Pieces = std::vector<std::wstring>;
    struct Case {
        std::wstring text;
        bool dropEmpty;
        Pieces expected;
    } const cases[] = {
        {L"", false, {}},
        {L"", true, {}},
        {L"10", false, {L"10"}},
        {L"10.0.19041.1", false, {L"10", L"0", L"19041", L"1"}},
        {L"6.2.", false, {L"6", L"2", L""}},
        {L"6.2.", true, {L"6", L"2"}},
        {L".", false, {L"", L""}},
        {L"..a..", false, {L"", L"", L"a", L"", L""}},
        {L"..a..", true, {L"a"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitString(c.text, L'.', c.dropEmpty), c.expected) << TestSupport::narrow(c.text);
}

TEST(SplitStringTest, VersionTextGivesUpToFourNumbers)
{
    struct Case {
        std::wstring text;
        bool ok;
        uint32_t numbers[4];
    } const cases[] = {
        {L"10.0.19041.1", true, {10, 0, 19041, 1}},
        {L"6.2", true, {6, 2, 0, 0}},
        {L"6.1.7601.17514.99", true, {6, 1, 7601, 17514}},
        {L"4294967295.0", true, {4294967295u, 0, 0, 0}},
        {L"4294967296.0", false, {0, 0, 0, 0}},
        {L"", false, {0, 0, 0, 0}},
        {L"6.2.", false, {0, 0, 0, 0}},
        {L"6.x.1", false, {0, 0, 0, 0}},
        {L" 6.1", false, {0, 0, 0, 0}},
        {L"-6.1", false, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        uint32_t numbers[4] = {7, 7, 7, 7};
        EXPECT_EQ(ParseVersionNumberText(c.text, numbers), c.ok) << TestSupport::narrow(c.text);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(numbers[i], c.numbers[i]) << TestSupport::narrow(c.text) << " piece " << i;
    }
}

} // namespace
