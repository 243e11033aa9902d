#include "Ini/CObfuscatedIniReader.h"
#include "IniTestText.h"
#include "ScratchFolder.h"
#include "TestNames.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace Halvex;
using TestSupport::ScratchFolder;
using Section = std::map<std::wstring, std::wstring>;

namespace {

Section sectionOf(CObfuscatedIniReader& reader, const std::wstring& name)
{
    Section values;
    EXPECT_TRUE(reader.GetSection(name, values)) << TestSupport::narrow(name);
    return values;
}

TEST(IniParsingTest, LinesSectionsAndKeys)
{
    ScratchFolder scratch;
    const std::wstring file = scratch.write(L"parse.ini",
                                            "; a comment\r\n"
                                            "top = level\r\n"
                                            "\r\n"
                                            "   \t \r\n"
                                            "[Config]\r\n"
                                            "Severity=3\r\n"
                                            "Severity=4\r\n"
                                            "   k   =   a=b   \r\n"
                                            "no equals sign here\r\n"
                                            "  ;indented comment=1\r\n"
                                            "[   ]\r\n"
                                            "after=blank header\r\n"
                                            "[ Spaced ]\r\n"
                                            "x=1\n"
                                            "[config]\r\n"
                                            "Severity=9\r\n"
                                            "[Config]\r\n"
                                            "late=joins\r\n");
    CObfuscatedIniReader reader;
    ASSERT_TRUE(reader.Load(file));
    EXPECT_EQ(sectionOf(reader, L""), (Section{{L"top", L"level"}}));
    EXPECT_EQ(sectionOf(reader, L"Config"), (Section{{L"Severity", L"3"},
                                                     {L"k", L"a=b"},
                                                     {L"after", L"blank header"},
                                                     {L"late", L"joins"}}));
    EXPECT_EQ(sectionOf(reader, L"Spaced"), (Section{{L"x", L"1"}}));
    EXPECT_EQ(sectionOf(reader, L"config"), (Section{{L"Severity", L"9"}}));
    Section none;
    EXPECT_FALSE(reader.GetSection(L"CONFIG", none));
    EXPECT_FALSE(reader.GetSection(L" Spaced ", none));
    EXPECT_EQ(reader.SectionCount(), 4u);
    EXPECT_EQ(reader.EntryCount(), 7u);

    // Typed by hand, so never deciphered: the strict reader answers nothing.
    int number = 0;
    EXPECT_FALSE(reader.GetInt(L"Config", L"Severity", number));
    std::wstring text;
    EXPECT_FALSE(reader.GetString(L"", L"top", text));
}

TEST(IniParsingTest, GetSectionAddsToTheCallersMap)
{
    ScratchFolder scratch;
    const std::wstring file = scratch.write(
        L"s.ini", "[Config]\r\nplain=1\r\n" + IniText::pairLines("Name", IniText::kNameHeader, IniText::kNameData));
    CObfuscatedIniReader reader;
    ASSERT_TRUE(reader.Load(file));
    Section values{{L"plain", L"old"}, {L"other", L"kept"}};
    ASSERT_TRUE(reader.GetSection(L"Config", values));
    EXPECT_EQ(values, (Section{{L"plain", L"1"}, {L"other", L"kept"}, {L"Name", L"Sentrel"}}));
}

TEST(IniParsingTest, FirstDataLineAndLastHeaderLineWin)
{
    const std::string goodHeader = IniText::kNameHeader;
    std::string badHeader = goodHeader;
    badHeader[45] = badHeader[45] == '0' ? '1' : '0'; // in the digest
    const std::string data = IniText::kNameData;

    struct Case {
        const char* what;
        std::string lines;
        bool readable;
    } const cases[] = {
        {"bad header then good header", "_Name=" + badHeader + "\r\n_Name=" + goodHeader + "\r\nName=" + data, true},
        {"good header then bad header", "_Name=" + goodHeader + "\r\n_Name=" + badHeader + "\r\nName=" + data, false},
        {"good data then other data", "_Name=" + goodHeader + "\r\nName=" + data + "\r\nName=00112233445566FF", true},
        {"other data then good data", "_Name=" + goodHeader + "\r\nName=00112233445566FF\r\nName=" + data, false},
        {"data before its header", "Name=" + data + "\r\n_Name=" + goodHeader, true},
    };
    ScratchFolder scratch;
    for (const auto& c : cases) {
        const std::wstring file = scratch.write(L"dup.ini", "[Config]\r\n" + c.lines + "\r\n");
        CObfuscatedIniReader reader;
        ASSERT_TRUE(reader.Load(file));
        std::wstring text;
        EXPECT_EQ(reader.GetString(L"Config", L"Name", text), c.readable) << c.what;
        if (c.readable) {
            EXPECT_EQ(text, L"Sentrel") << c.what;
        }
    }
}

TEST(IniParsingTest, NamesAreExactAndSplitAtTheFirstDot)
{
    ScratchFolder scratch;
    const std::wstring file = scratch.write(
        L"names.ini", "[Config]\r\n" + IniText::pairLines("Name", IniText::kNameHeader, IniText::kNameData) +
                          IniText::pairLines("Dotted.Key", IniText::kNameHeader, IniText::kNameData) +
                          "[Dot.Section]\r\n" + IniText::pairLines("Name", IniText::kNameHeader, IniText::kNameData));
    CObfuscatedIniReader reader;
    ASSERT_TRUE(reader.Load(file));
    std::wstring text;
    EXPECT_TRUE(reader.GetString(L"Config", L"Name", text));
    EXPECT_TRUE(reader.GetString(L"Config", L"Dotted.Key", text));
    EXPECT_EQ(text, L"Sentrel");
    EXPECT_FALSE(reader.GetString(L"config", L"Name", text));
    EXPECT_FALSE(reader.GetString(L"Config", L"name", text));
    EXPECT_FALSE(reader.GetString(L"Config", L"Name ", text));
    // "Dot.Section.Name" splits into Dot and Section.Name: never found, and
    // never deciphered (the section keeps the raw structure).
    EXPECT_FALSE(reader.GetString(L"Dot.Section", L"Name", text));
    Section values;
    ASSERT_TRUE(reader.GetSection(L"Dot.Section", values));
    EXPECT_EQ(values[L"Name"], TestSupport::widen(IniText::kNameData));
    // A name without a dot addresses nothing.
    EXPECT_FALSE(reader.GetStringValue(L"ConfigName", text));
    EXPECT_TRUE(reader.GetStringValue(L"Config.Name", text));
}

TEST(IniParsingTest, LongLinesArriveInPiecesOf1023Bytes)
{
    // 3000 characters: pieces of 1023, 1023 and 954, each parsed as a line.
    std::string line = "a=" + std::string(1021, 'x') + "b=" + std::string(1021, 'y') + "c=" + std::string(952, 'z');
    ASSERT_EQ(line.size(), 3000u);
    ScratchFolder scratch;
    const std::wstring file = scratch.write(L"long.ini", "[S]\r\n" + line + "\r\n");
    CObfuscatedIniReader reader;
    ASSERT_TRUE(reader.Load(file));
    EXPECT_EQ(sectionOf(reader, L"S"), (Section{{L"a", std::wstring(1021, L'x')},
                                                {L"b", std::wstring(1021, L'y')},
                                                {L"c", std::wstring(952, L'z')}}));
    EXPECT_EQ(reader.EntryCount(), 3u);
}

TEST(IniParsingTest, UnderscoreKeysThatAreNoHeadersStayEntries)
{
    const std::string header = IniText::kNameHeader;
    ScratchFolder scratch;
    const std::wstring file = scratch.write(L"u.ini", "[S]\r\n"
                                                      "_plain=value\r\n"
                                                      "_short=" + header.substr(0, 73) + "\r\n"
                                                      "_Name=" + header + "\r\n"
                                                      "Name=" + IniText::kNameData + "\r\n");
    CObfuscatedIniReader reader;
    ASSERT_TRUE(reader.Load(file));
    const Section values = sectionOf(reader, L"S");
    EXPECT_EQ(values.count(L"_plain"), 1u);
    EXPECT_EQ(values.count(L"_short"), 1u);
    EXPECT_EQ(values.count(L"_Name"), 0u);
    EXPECT_EQ(values.at(L"Name"), L"Sentrel");
    EXPECT_EQ(reader.EntryCount(), 3u);
}

} // namespace
