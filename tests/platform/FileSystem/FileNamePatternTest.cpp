#include "FileSystem/FileNamePattern.h"
#include "TestNames.h"

#include <gtest/gtest.h>

#include <string>

using Halvex::internal::MatchesFileNamePattern;

namespace {

struct PatternCase {
    const wchar_t* pattern;
    const wchar_t* name;
    bool matches;
};

TEST(FileNamePatternTest, MatchesLongNamesTheWayWindowsDoes)
{
    const PatternCase cases[] = {
        {L"*.log", L"a.log", true},
        {L"*.log", L"A.LOG", true},
        {L"*.LOG", L"a.log", true},
        {L"*.log", L"a.logx", false}, // the short name A~1.LOG must not count
        {L"*.log", L"a.log.bak", false},
        {L"*.log", L"x.y.log", true},
        {L"*.log", L".log", true},
        {L"*.log", L"log", false},
        {L"*.*", L"README", true},
        {L"*.*", L"a.b.c", true},
        {L"*.*", L".", true},
        {L"*", L"anything.at.all", true},
        {L"name.*", L"name", true},
        {L"name.*", L"name.txt", true},
        {L"name.*", L"names", false},
        {L"a?c.txt", L"abc.txt", true},
        {L"a?c.txt", L"ac.txt", false},
        {L"a?c.txt", L"abbc.txt", false},
        {L"Sentrel*.log", L"Sentrel_3.log", true},
        {L"Sentrel*.log", L"Other_3.log", false},
        {L"file.txt", L"FILE.TXT", true},
        {L"\u00c9t\u00e9*.log", L"\u00e9T\u00c9 2.LOG", true},
        {L"file.txt", L"file.txt2", false},
        {L"**a", L"bbba", true},
        {L"*a*b", L"xaybzb", true},
        {L"*a*b", L"xaybzc", false},
        {L"", L"", true},
        {L"", L"a", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchesFileNamePattern(c.pattern, c.name), c.matches)
            << "pattern '" << TestSupport::narrow(c.pattern) << "' name '" << TestSupport::narrow(c.name) << "'";
}

TEST(FileNamePatternTest, LongNameAndManyStarsStayCheap)
{
    const std::wstring name(20000, L'a');
    const std::wstring pattern = std::wstring(50, L'*') + L"b";
    EXPECT_FALSE(MatchesFileNamePattern(pattern, name));
    EXPECT_TRUE(MatchesFileNamePattern(pattern, name + L"b"));
}

} // namespace
