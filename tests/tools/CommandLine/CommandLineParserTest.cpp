#include "CommandLineParser.h"

#include <gtest/gtest.h>

#include <ostream>
#include <cctype>
#include <string>
#include <vector>

namespace {

const wchar_t kView[] = L"registerViewer";
const wchar_t kPath[] = L"pluginPath";
const wchar_t kFile[] = L"pluginFile";

std::vector<CommandLineFlag> table()
{
    return {{kView, L"Register a viewer."}, {kPath, L"The path."}, {kFile, L"The file."}};
}

struct ParseCase {
    const char* what;
    std::vector<std::wstring> arguments;
    bool parsed;
    // Flag and value the parser must report as present (value of the first occurrence).
    std::vector<std::pair<const wchar_t*, std::wstring>> present;
    std::vector<const wchar_t*> absent;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ParseCase& c, std::ostream* out) { *out << c.what; }

class ParseTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTable, RecordsTheFlagsOfTheTable)
{
    const ParseCase& c = GetParam();
    CommandLineParser parser(table());
    EXPECT_EQ(c.parsed, parser.parseArguments(c.arguments));
    for (const auto& flag : c.present) {
        EXPECT_TRUE(parser.has(flag.first)) << flag.first;
        EXPECT_EQ(flag.second, parser.value(flag.first)) << flag.first;
    }
    for (const wchar_t* name : c.absent) {
        EXPECT_FALSE(parser.has(name)) << name;
        EXPECT_EQ(L"", parser.value(name)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseTable,
    ::testing::Values(
        ParseCase{"dash", {L"-registerViewer=abc"}, true, {{kView, L"abc"}}, {kPath, kFile}},
        ParseCase{"slash", {L"/registerViewer=abc"}, true, {{kView, L"abc"}}, {}},
        ParseCase{"other case", {L"-RegisterViewer=abc"}, false, {}, {kView}},
        ParseCase{"no prefix is skipped", {L"C:\\tool.exe", L"registerViewer=abc", L""}, true, {}, {kView}},
        ParseCase{"further equals signs", {L"-pluginPath=a=b"}, true, {{kPath, L"a=b"}}, {}},
        ParseCase{"empty value", {L"-pluginPath="}, true, {{kPath, L""}}, {}},
        ParseCase{"bare flag", {L"/pluginPath"}, true, {{kPath, L""}}, {}},
        ParseCase{"blanks are part of the value", {L"-pluginFile= x y "}, true, {{kFile, L" x y "}}, {}},
        ParseCase{"first of two", {L"-pluginFile=one", L"/pluginFile=two"}, true, {{kFile, L"one"}}, {}},
        ParseCase{"unknown before a valid flag", {L"-other", L"-pluginPath=x"}, false, {}, {kPath}},
        ParseCase{"unknown after a valid flag", {L"-pluginPath=x", L"/other=1"}, false, {{kPath, L"x"}}, {}},
        ParseCase{"prefix alone", {L"-"}, false, {}, {}},
        ParseCase{"prefix and equals", {L"/=x"}, false, {}, {}},
        ParseCase{"name with trailing blank", {L"-pluginPath =x"}, false, {}, {kPath}},
        ParseCase{"double prefix", {L"--pluginPath"}, false, {}, {kPath}}),
    [](const ::testing::TestParamInfo<ParseCase>& info) {
        std::string name;
        for (const char* p = info.param.what; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST(CommandLineParser, ParseTakesTheWholeVectorAndKeepsTheTablePointer)
{
    CommandLineParser parser(table());
    const wchar_t* argv[] = {L"/registerViewer=v", L"-pluginFile=f.dll"};
    ASSERT_TRUE(parser.parse(2, argv));
    EXPECT_EQ(L"v", parser.value(L"registerViewer"));
    EXPECT_EQ(L"f.dll", parser.value(kFile));
    // Names are compared by their text, not by the row's pointer.
    const std::wstring copy = kFile;
    EXPECT_TRUE(parser.has(copy.c_str()));
    EXPECT_FALSE(parser.has(kPath));
}

TEST(CommandLineParser, RefusesNullVectorsAndEntries)
{
    CommandLineParser parser(table());
    EXPECT_FALSE(parser.parse(1, nullptr));
    const wchar_t* argv[] = {L"-pluginPath=x", nullptr};
    EXPECT_FALSE(parser.parse(2, argv));
    EXPECT_TRUE(parser.parse(0, nullptr));
}

TEST(CommandLineParser, UsageHasOneLinePerRowInTableOrder)
{
    EXPECT_EQ(L"registerViewer - Register a viewer.\npluginPath - The path.\npluginFile - The file.\n",
              CommandLineParser(table()).usage());
    EXPECT_EQ(L"", CommandLineParser({}).usage());
}

TEST(FlagNamesEqual, ComparesCodeUnitsExactly)
{
    EXPECT_TRUE(flagNamesEqual(L"abc", L"abc"));
    EXPECT_TRUE(flagNamesEqual(L"", L""));
    EXPECT_FALSE(flagNamesEqual(L"abc", L"ABC"));
    EXPECT_FALSE(flagNamesEqual(L"abc", L"abcd"));
    EXPECT_FALSE(flagNamesEqual(L"abcd", L"abc"));
    EXPECT_FALSE(flagNamesEqual(L"abc", nullptr));
}

} // namespace
