#include "trust/TrustedListParser.h"

#include <gtest/gtest.h>

#include <random>

using namespace Halvex::trust;

namespace {

struct ParseCase {
    const char* label;
    const char* text;
    bool built;
    DWORD version;
    size_t names;     // entries, or npos for an absent section
    size_t roots;
    size_t serials;
};

const size_t kAbsent = static_cast<size_t>(-1);

class ListText : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ListText, ParsesAndBuilds)
{
    const ParseCase& c = GetParam();
    TrustedListSections sections;
    TrustedListContent content;
    bool built = TrustedListParse(c.text, sections) && TrustedListBuild(sections, content);
    ASSERT_EQ(c.built, built);
    if (!built)
        return;
    EXPECT_EQ(c.version, content.version);
    EXPECT_EQ(c.names, content.hasNames ? content.names.size() : kAbsent);
    EXPECT_EQ(c.roots, content.thumbprints.size());
    EXPECT_EQ(c.serials, content.hasSerials ? content.serials.size() : kAbsent);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListText,
    ::testing::Values(
        ParseCase{"Full", "[VER]\n9\n[ORG]\nA\nB\n[SHA]\n00112233445566778899AABBCCDDEEFF00112233\n[SER]\n0A0B\n", true, 9, 2, 1, 1},
        ParseCase{"CrLfAndBlanks", "  [ VER ]\t\r\n\t 12 \r\n\r\n[ORG]\r\n  Name With Spaces  \r\n", true, 12, 1, 0, kAbsent},
        ParseCase{"CommentsAndSignatureBlockSkipped",
                  "/* head\n[VER]\n8\n// [ORG]\n*/ x\n// SIG // Begin signature block\n// SIG // MIIx\n", true, 8, kAbsent, 0, kAbsent},
        ParseCase{"SectionOpenedTwiceAddsLines", "[ORG]\nA\n[VER]\n3\n[ORG]\nB\n", true, 3, 2, 0, kAbsent},
        ParseCase{"LinesBeforeFirstSectionIgnored", "stray\n[VER]\n1\n", true, 1, kAbsent, 0, kAbsent},
        ParseCase{"HeaderWithoutLinesIsAbsent", "[VER]\n4\n[ORG]\n[SER]\n", true, 4, kAbsent, 0, kAbsent},
        ParseCase{"OddAndEmptyShaGiveNoBytes", "[VER]\n5\n[SHA]\nABC\n\n[SHA]\n0\n", true, 5, kAbsent, 2, kAbsent},
        ParseCase{"UnknownSectionIgnored", "[VER]\n6\n[XYZ]\nwhatever\n", true, 6, kAbsent, 0, kAbsent},
        ParseCase{"NoVersion", "[ORG]\nA\n", false, 0, 0, 0, 0},
        ParseCase{"TwoVersionLines", "[VER]\n9\n10\n", false, 0, 0, 0, 0},
        ParseCase{"VersionNotDecimal", "[VER]\n9a\n", false, 0, 0, 0, 0},
        ParseCase{"VersionTooLong", "[VER]\n99999999999999999999\n", false, 0, 0, 0, 0},
        ParseCase{"ShaNotHex", "[VER]\n9\n[SHA]\nZZ\n", false, 0, 0, 0, 0},
        ParseCase{"BlankHeaderStops", "[VER]\n9\n[  ]\n", false, 0, 0, 0, 0},
        ParseCase{"Empty", "", false, 0, 0, 0, 0}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.label); });

// A bounded, seeded run of damaged texts: the parser never reads past its
// input and a built list is always consistent.
TEST(ListTextMutation, DamagedTextsNeverBreakTheParser)
{
    const std::string seed = "/* x */\r\n[VER]\r\n9\r\n[ORG]\r\nHalvex Test Signer\r\n[SHA]\r\n"
                             "00112233445566778899AABBCCDDEEFF00112233\r\n[SER]\r\n5EA1AB01\r\n// SIG // y\r\n";
    const char alphabet[] = "[]/*\r\n \t0aZ9\xff";
    std::mt19937 rng(20261210);
    for (int round = 0; round < 3000; ++round) {
        std::string text = seed;
        int edits = 1 + static_cast<int>(rng() % 6);
        for (int e = 0; e < edits; ++e) {
            size_t at = text.empty() ? 0 : rng() % text.size();
            switch (rng() % 3) {
            case 0: if (!text.empty()) text[at] = alphabet[rng() % (sizeof(alphabet) - 1)]; break;
            case 1: text.insert(at, 1, alphabet[rng() % (sizeof(alphabet) - 1)]); break;
            default: if (!text.empty()) text.erase(at, 1 + rng() % 8); break;
            }
        }
        TrustedListSections sections;
        TrustedListContent content;
        if (TrustedListParse(text, sections) && TrustedListBuild(sections, content)) {
            ASSERT_EQ(sections.at(L"VER").size(), 1u);
            for (const auto& t : content.thumbprints)
                ASSERT_LE(t.size(), 64u);
        }
    }
}

} // namespace
