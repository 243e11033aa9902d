#include "Ini/CObfuscatedIniReader.h"
#include "Ini/ObfuscatedIniValueHeader.h"
#include "IniTestText.h"
#include "ScratchFolder.h"
#include "TestNames.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <cstring>
#include <functional>
#include <map>
#include <string>

using namespace Halvex;
using TestSupport::ScratchFolder;

namespace {

TEST(CObfuscatedIniReaderTest, ReadsValuesWrittenByOtherPrograms)
{
    ScratchFolder scratch;
    const std::wstring file = scratch.write(
        L"log.ini", "; written elsewhere\r\n[Config]\r\n" +
                        IniText::pairLines("LastLogIdx", IniText::kLastLogIdxHeader, IniText::kLastLogIdxData) +
                        IniText::pairLines("Name", IniText::kNameHeader, IniText::kNameData) +
                        IniText::pairLines("Neg", IniText::kNegHeader, IniText::kNegData));
    CObfuscatedIniReader reader;
    ASSERT_TRUE(reader.Load(file));
    int number = 0;
    EXPECT_TRUE(reader.GetInt(L"Config", L"LastLogIdx", number));
    EXPECT_EQ(number, 5);
    EXPECT_TRUE(reader.GetInt(L"Config", L"Neg", number));
    EXPECT_EQ(number, -123456);
    std::wstring text;
    EXPECT_TRUE(reader.GetString(L"Config", L"Name", text));
    EXPECT_EQ(text, L"Sentrel");
    EXPECT_TRUE(reader.GetString(L"Config", L"LastLogIdx", text));
    EXPECT_EQ(text, L"5");
    // A text reads as a number through its leading digits (none here: 0).
    EXPECT_TRUE(reader.GetInt(L"Config", L"Name", number));
    EXPECT_EQ(number, 0);
}

TEST(CObfuscatedIniReaderTest, WritesTheStoredFormExactly)
{
    ScratchFolder scratch;
    const std::wstring file = scratch.file(L"log.ini");
    CObfuscatedIniReader writer;
    // No file yet: Load fails but keeps the name, so the writes create it.
    EXPECT_FALSE(writer.Load(file));
    EXPECT_EQ(CompareStringOrdinal(writer.FileName().c_str(), -1, file.c_str(), -1, TRUE), CSTR_EQUAL);
    ASSERT_TRUE(writer.SetInt(L"Config", L"LastLogIdx", 5));
    ASSERT_TRUE(writer.SetString(L"Config", L"Name", L"Sentrel"));
    EXPECT_EQ(ScratchFolder::read(file), IniText::goldenFile());

    // The system reads both structures back with their checksums.
    internal::ObfuscatedIniValueHeader header;
    ASSERT_TRUE(GetPrivateProfileStructW(L"Config", L"_LastLogIdx", &header, sizeof(header), file.c_str()));
    EXPECT_EQ(std::memcmp(header.magic, "CVRG", 4), 0);
    EXPECT_EQ(header.version, 1u);
    EXPECT_EQ(header.length, 4u);
    EXPECT_EQ(header.type, 4u);
    EXPECT_EQ(header.flag, 1u);
    uint8_t data[4];
    EXPECT_TRUE(GetPrivateProfileStructW(L"Config", L"LastLogIdx", data, 4, file.c_str()));

    // What the writer cached is what a new reader finds.
    int number = 0;
    EXPECT_TRUE(writer.GetInt(L"Config", L"LastLogIdx", number));
    EXPECT_EQ(number, 5);
    CObfuscatedIniReader reader;
    ASSERT_TRUE(reader.Load(file));
    EXPECT_TRUE(reader.GetInt(L"Config", L"LastLogIdx", number));
    EXPECT_EQ(number, 5);
}

TEST(CObfuscatedIniReaderTest, ValuesWrittenReadBackThroughANewReader)
{
    ScratchFolder scratch;
    const std::wstring file = scratch.file(L"values.ini");
    const int numbers[] = {0, 1, -1, 5, 100, INT_MAX, INT_MIN, 0x01020304};
    const std::wstring texts[] = {L"a", L"Sentrel", L"x=y", L"  inner  blanks  ", L";not a comment",
                                  L"Gr\u00fc\u00dfe", std::wstring(400, L'q')};
    {
        CObfuscatedIniReader writer;
        writer.Load(file);
        for (int n : numbers)
            ASSERT_TRUE(writer.SetInt(L"Numbers", L"n" + std::to_wstring(n), n)) << n;
        int k = 0;
        for (const auto& t : texts)
            ASSERT_TRUE(writer.SetString(L"Texts", L"t" + std::to_wstring(k++), t));
        // Overwriting replaces both entries.
        ASSERT_TRUE(writer.SetInt(L"Numbers", L"changed", 1));
        ASSERT_TRUE(writer.SetInt(L"Numbers", L"changed", 2));
        ASSERT_TRUE(writer.SetString(L"Texts", L"changed", L"before"));
        ASSERT_TRUE(writer.SetString(L"Texts", L"changed", L"after"));
    }
    CObfuscatedIniReader reader;
    ASSERT_TRUE(reader.Load(file));
    for (int n : numbers) {
        int value = 12345;
        EXPECT_TRUE(reader.GetInt(L"Numbers", L"n" + std::to_wstring(n), value)) << n;
        EXPECT_EQ(value, n);
    }
    int k = 0;
    for (const auto& t : texts) {
        std::wstring value;
        EXPECT_TRUE(reader.GetString(L"Texts", L"t" + std::to_wstring(k++), value)) << TestSupport::narrow(t);
        EXPECT_EQ(value, t);
    }
    int changed = 0;
    EXPECT_TRUE(reader.GetInt(L"Numbers", L"changed", changed));
    EXPECT_EQ(changed, 2);
    std::wstring text;
    EXPECT_TRUE(reader.GetString(L"Texts", L"changed", text));
    EXPECT_EQ(text, L"after");
}

TEST(CObfuscatedIniReaderTest, WritesNeedAFileAndSomethingToStore)
{
    CObfuscatedIniReader reader;
    EXPECT_FALSE(reader.SetInt(L"Config", L"LastLogIdx", 5));
    EXPECT_FALSE(reader.SetString(L"Config", L"Name", L"x"));
    EXPECT_FALSE(reader.Load(L""));
    EXPECT_FALSE(reader.SetInt(L"Config", L"LastLogIdx", 5));
    int number = 0;
    EXPECT_FALSE(reader.GetInt(L"Config", L"LastLogIdx", number));

    // An empty text enciphers to nothing, which the stored form cannot hold.
    ScratchFolder scratch;
    const std::wstring file = scratch.file(L"empty.ini");
    reader.Load(file);
    EXPECT_FALSE(reader.SetString(L"Config", L"Name", L""));
    std::wstring text;
    EXPECT_FALSE(reader.GetString(L"Config", L"Name", text));
}

TEST(CObfuscatedIniReaderTest, OpenErrorOtherThanMissingFileForgetsTheName)
{
    ScratchFolder scratch;
    CObfuscatedIniReader reader;
    // A folder cannot be opened as a file.
    EXPECT_FALSE(reader.Load(scratch.path()));
    EXPECT_TRUE(reader.FileName().empty());
    EXPECT_FALSE(reader.SetInt(L"Config", L"LastLogIdx", 5));
}

TEST(CObfuscatedIniReaderTest, RelativeFileIsWrittenWhereItWasRead)
{
    ScratchFolder scratch;
    wchar_t previous[MAX_PATH * 2] = {};
    GetCurrentDirectoryW(MAX_PATH * 2, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(scratch.path().c_str()));
    const std::wstring name = TestSupport::uniqueName(L"rel") + L".ini";
    {
        CObfuscatedIniReader reader;
        EXPECT_FALSE(reader.Load(name));
        EXPECT_TRUE(reader.SetInt(L"Config", L"LastLogIdx", 7));
    }
    EXPECT_NE(GetFileAttributesW(scratch.file(name).c_str()), INVALID_FILE_ATTRIBUTES);
    CObfuscatedIniReader again;
    EXPECT_TRUE(again.Load(name));
    int number = 0;
    EXPECT_TRUE(again.GetInt(L"Config", L"LastLogIdx", number));
    EXPECT_EQ(number, 7);
    SetCurrentDirectoryW(previous);
}

TEST(CObfuscatedIniReaderTest, SecondLoadStartsFromNothing)
{
    ScratchFolder scratch;
    const std::wstring first = scratch.write(
        L"first.ini", "[Config]\r\n" + IniText::pairLines("Name", IniText::kNameHeader, IniText::kNameData));
    const std::wstring second = scratch.write(
        L"second.ini", IniText::pairLines("LastLogIdx", IniText::kLastLogIdxHeader, IniText::kLastLogIdxData));
    CObfuscatedIniReader reader;
    ASSERT_TRUE(reader.Load(first));
    ASSERT_TRUE(reader.Load(second));
    std::wstring text;
    EXPECT_FALSE(reader.GetString(L"Config", L"Name", text));
    // Keys before any section header belong to the section with the empty name.
    int number = 0;
    EXPECT_FALSE(reader.GetInt(L"Config", L"LastLogIdx", number));
    EXPECT_TRUE(reader.GetInt(L"", L"LastLogIdx", number));
    EXPECT_EQ(number, 5);
}

// ---------------------------------------------------------------------------
// Damaged values: each is left unreadable, and the intact value beside it
// still reads.

std::string replaced(std::string text, size_t at, const std::string& with)
{
    return text.replace(at, with.size(), with);
}

struct Damage {
    const char* what;
    std::string nameHeader; // for the text value "Sentrel" under Name
    std::string nameData;
};

TEST(CObfuscatedIniReaderTest, DamagedTextValuesAreUnreadable)
{
    const std::string h = IniText::kNameHeader;
    const std::string d = IniText::kNameData; // 7 bytes: 14 digits and 2 of checksum
    const Damage cases[] = {
        {"bad magic", replaced(h, 0, "5"), d},
        {"version 2", replaced(h, 8, "02"), d},
        {"flag 0", replaced(h, 32, "00"), d},
        {"wrong digest", replaced(h, 40, h[40] == 'F' ? "0" : "F"), d},
        {"length says 8", replaced(h, 16, "08"), d},
        {"length says 6", replaced(h, 16, "06"), d},
        {"unknown type", replaced(h, 24, "07"), d},
        {"header too short", h.substr(0, 72), d},
        {"header one character short", h.substr(0, 73), d},
        {"header too long", h + "00", d},
        {"data changed", h, replaced(d, 3, d[3] == '0' ? "1" : "0")},
        {"data shorter than the header says", h, d.substr(0, 12) + d.substr(14)},
        {"data without its checksum and a byte", h, d.substr(0, 12)},
        {"data longer than the header says", h, d.substr(0, 14) + "00" + d.substr(14)},
        {"data not hexadecimal", h, replaced(d, 0, "ZZ")},
        {"empty value", h, ""},
        {"one character", h, "4"},
        {"only a checksum", h, "44"},
    };
    ScratchFolder scratch;
    for (const auto& c : cases) {
        const std::wstring file = scratch.write(
            L"damaged.ini",
            "[Config]\r\n" + IniText::pairLines("Name", c.nameHeader, c.nameData) +
                IniText::pairLines("LastLogIdx", IniText::kLastLogIdxHeader, IniText::kLastLogIdxData));
        CObfuscatedIniReader reader;
        ASSERT_TRUE(reader.Load(file)) << c.what;
        std::wstring text = L"untouched";
        EXPECT_FALSE(reader.GetString(L"Config", L"Name", text)) << c.what;
        EXPECT_EQ(text, L"untouched") << c.what;
        int number = 99;
        EXPECT_FALSE(reader.GetInt(L"Config", L"Name", number)) << c.what;
        EXPECT_EQ(number, 99) << c.what;
        EXPECT_TRUE(reader.GetInt(L"Config", L"LastLogIdx", number)) << c.what;
        EXPECT_EQ(number, 5) << c.what;
    }
}

TEST(CObfuscatedIniReaderTest, DamagedNumberValuesAreUnreadable)
{
    const std::string h = IniText::kLastLogIdxHeader;
    const std::string d = IniText::kLastLogIdxData; // 4 bytes: 8 digits and 2 of checksum
    const Damage cases[] = {
        {"wrong digest", replaced(h, 70, h[70] == '0' ? "1" : "0"), d},
        {"length says 3", replaced(h, 16, "03"), d},
        {"length says 5", replaced(h, 16, "05"), d},
        {"data changed", h, replaced(d, 7, d[7] == 'A' ? "B" : "A")},
        {"data of two bytes", h, d.substr(0, 4) + "00"},
        {"data of three bytes", h, d.substr(0, 6) + "00"},
        {"empty value", h, ""},
        {"one character", h, "9"},
    };
    ScratchFolder scratch;
    for (const auto& c : cases) {
        const std::wstring file = scratch.write(
            L"damaged.ini", "[Config]\r\n" + IniText::pairLines("LastLogIdx", c.nameHeader, c.nameData) +
                                IniText::pairLines("Name", IniText::kNameHeader, IniText::kNameData));
        CObfuscatedIniReader reader;
        ASSERT_TRUE(reader.Load(file)) << c.what;
        int number = 99;
        EXPECT_FALSE(reader.GetInt(L"Config", L"LastLogIdx", number)) << c.what;
        EXPECT_EQ(number, 99) << c.what;
        std::wstring text;
        EXPECT_TRUE(reader.GetString(L"Config", L"Name", text)) << c.what;
        EXPECT_EQ(text, L"Sentrel") << c.what;
    }
}

TEST(CObfuscatedIniReaderTest, HeaderOrDataAloneIsUnreadable)
{
    ScratchFolder scratch;
    const std::string headerOnly = std::string("_Name=") + IniText::kNameHeader + "\r\n";
    const std::string dataOnly = std::string("Name=") + IniText::kNameData + "\r\n";
    for (const std::string& body : {headerOnly, dataOnly}) {
        const std::wstring file = scratch.write(L"half.ini", "[Config]\r\n" + body);
        CObfuscatedIniReader reader;
        ASSERT_TRUE(reader.Load(file));
        std::wstring text;
        EXPECT_FALSE(reader.GetString(L"Config", L"Name", text));
    }
}

// ReplaceInt writes the file anew and puts it in place in one step: every
// value that reads back stays, with its type and section, and so does what
// nobody enciphered (a value typed by hand, a comment); what a writer left
// torn (a header without its value, enciphered data without its header, a
// header cut short) is gone, and so are temporary files an earlier writer
// left behind.
TEST(CObfuscatedIniReaderTest, ReplaceIntKeepsWhatNobodyWroteAndDropsWhatWasTorn)
{
    ScratchFolder scratch;
    const std::wstring file = scratch.write(
        L"log.ini", "; kept by hand\r\n[Config]\r\n" +
                        IniText::pairLines("Name", IniText::kNameHeader, IniText::kNameData) +
                        IniText::pairLines("Neg", IniText::kNegHeader, IniText::kNegData) +
                        "Severity=3\r\n" + std::string("_Gone=") + IniText::kNameHeader + "\r\n" +
                        "[Other]\r\n" +
                        IniText::pairLines("LastLogIdx", IniText::kLastLogIdxHeader, IniText::kLastLogIdxData) +
                        "Stray=" + IniText::kNameData + "\r\nNote=typed by hand\r\n[Config]\r\n_LastLogIdx=43565247010000");
    const std::wstring left = scratch.write(L"log.ini.123-456.tmp", "[Config]\r\n");
    const std::wstring notLeft = scratch.write(L"log.ini.other.tmp", "[Config]\r\n");
    CObfuscatedIniReader writer;
    ASSERT_TRUE(writer.Load(file));
    ASSERT_TRUE(writer.ReplaceInt(L"Config", L"LastLogIdx", 7));

    CObfuscatedIniReader reader;
    ASSERT_TRUE(reader.Load(file));
    for (CObfuscatedIniReader* r : {&writer, &reader}) {
        int number = 0;
        std::wstring text;
        EXPECT_TRUE(r->GetInt(L"Config", L"LastLogIdx", number));
        EXPECT_EQ(number, 7);
        EXPECT_TRUE(r->GetInt(L"Config", L"Neg", number));
        EXPECT_EQ(number, -123456);
        EXPECT_TRUE(r->GetString(L"Config", L"Name", text));
        EXPECT_EQ(text, L"Sentrel");
        EXPECT_TRUE(r->GetInt(L"Other", L"LastLogIdx", number));
        EXPECT_EQ(number, 5);
        std::map<std::wstring, std::wstring> config, other;
        EXPECT_TRUE(r->GetSection(L"Config", config));
        EXPECT_TRUE(r->GetSection(L"Other", other));
        EXPECT_EQ(config.size(), 4u) << "what reads back, and the value typed by hand";
        EXPECT_EQ(config[L"Severity"], L"3");
        EXPECT_EQ(other.size(), 2u);
        EXPECT_EQ(other[L"Note"], L"typed by hand");
    }
    internal::ObfuscatedIniValueHeader header;
    ASSERT_TRUE(GetPrivateProfileStructW(L"Config", L"_Name", &header, sizeof(header), file.c_str()));
    EXPECT_EQ(header.type, 1u) << "a text stays a text";
    const std::string after = ScratchFolder::read(file);
    for (const char* kept : {"; kept by hand\r\n", "Severity=3\r\n", "Note=typed by hand\r\n"})
        EXPECT_NE(after.find(kept), std::string::npos) << kept;
    for (const char* gone : {"_Gone=", "Stray="})
        EXPECT_EQ(after.find(gone), std::string::npos) << gone;
    // The header cut short is gone; whole ones begin as it did.
    const std::string cut = "_LastLogIdx=43565247010000";
    for (size_t at = after.find(cut); at != std::string::npos; at = after.find(cut, at + 1))
        EXPECT_TRUE(at + cut.size() < after.size() && isxdigit(static_cast<unsigned char>(after[at + cut.size()])))
            << after.substr(at);

    // Nothing is left beside the file but what is not a writer's.
    EXPECT_EQ(GetFileAttributesW(left.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW(notLeft.c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(DeleteFileW(notLeft.c_str()));
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((scratch.path() + L"\\*.tmp").c_str(), &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);

    // A missing file is made; a reader without a file writes nothing.
    CObfuscatedIniReader fresh;
    EXPECT_FALSE(fresh.Load(scratch.file(L"new.ini")));
    ASSERT_TRUE(fresh.ReplaceInt(L"Config", L"LastLogIdx", 2));
    CObfuscatedIniReader check;
    int number = 0;
    ASSERT_TRUE(check.Load(scratch.file(L"new.ini")));
    EXPECT_TRUE(check.GetInt(L"Config", L"LastLogIdx", number));
    EXPECT_EQ(number, 2);
    CObfuscatedIniReader none;
    EXPECT_FALSE(none.ReplaceInt(L"Config", L"LastLogIdx", 2));
}

} // namespace

namespace {

// The reader takes a line in pieces of at most 1023 bytes: a value whose line
// ("key=" and the hexadecimal data, or "_key=" and the header) would be
// longer could never be read back, so it is not written at all, and what
// the file held before stays as it was.
TEST(CObfuscatedIniReaderTest, ValuesWhoseLinesTheReaderCannotTakeWholeAreNotWritten)
{
    const struct {
        size_t keyLength;
        size_t valueBytes; // the line is keyLength + 1 + 2 * valueBytes + 2 bytes
        bool written;
    } cases[] = {
        {1, 509, true},  {1, 510, false},  // 1022 and 1024 bytes
        {2, 509, true},  {2, 510, false},  // exactly 1023, and 1025
        {40, 490, true}, {40, 491, false}, // 1023 and 1025
        {500, 260, true}, {500, 261, false},
    };
    for (const auto& c : cases) {
        ScratchFolder scratch;
        const std::wstring file = scratch.file(L"long.ini");
        const std::wstring key(c.keyLength, L'k');
        const std::wstring value(c.valueBytes, L'v');
        CObfuscatedIniReader writer;
        writer.Load(file);
        ASSERT_TRUE(writer.SetString(L"S", key, L"old"));
        const std::string before = ScratchFolder::read(file);
        EXPECT_EQ(c.written, writer.SetString(L"S", key, value)) << c.keyLength << " " << c.valueBytes;
        if (!c.written) {
            EXPECT_EQ(before, ScratchFolder::read(file)) << c.keyLength << " " << c.valueBytes;
        }
        CObfuscatedIniReader reader;
        ASSERT_TRUE(reader.Load(file));
        std::wstring read;
        EXPECT_TRUE(reader.GetString(L"S", key, read)) << c.keyLength << " " << c.valueBytes;
        EXPECT_EQ(c.written ? value : L"old", read) << c.keyLength << " " << c.valueBytes;
        // The writer's own cache answers as the file does.
        EXPECT_TRUE(writer.GetString(L"S", key, read));
        EXPECT_EQ(c.written ? value : L"old", read);
    }

    // A number's line is short, but its key's header line is bounded too:
    // "_" + key + "=" + 74 characters.
    for (const auto& c : {std::make_pair(size_t(947), true), std::make_pair(size_t(948), false)}) {
        ScratchFolder scratch;
        const std::wstring file = scratch.file(L"long.ini");
        const std::wstring key(c.first, L'n');
        CObfuscatedIniReader writer;
        writer.Load(file);
        EXPECT_EQ(c.second, writer.SetInt(L"S", key, 7)) << c.first;
        CObfuscatedIniReader reader;
        reader.Load(file);
        int number = 0;
        EXPECT_EQ(c.second, reader.GetInt(L"S", key, number)) << c.first;
    }
}

// Section and key names and texts are stored in the ANSI code page: one that
// the code page cannot hold would be stored as another (U+4E00 and U+4E8C
// both as "?"), so it is refused and nothing is written.
TEST(CObfuscatedIniReaderTest, NamesAndTextsTheCodePageCannotHoldAreRefused)
{
    const struct {
        std::wstring section, key, text;
    } cases[] = {
        {L"S", L"\u4E00", L"x"},
        {L"S", L"a\u4E8Cb", L"x"},
        {L"\u4E00", L"k", L"x"},
        {L"S", L"\u0100", L"x"},
        {L"S", L"k", L"\u4E00"},
        {L"S", L"k", L"ok \U0001F600"},
    };
    for (const auto& c : cases) {
        ScratchFolder scratch;
        const std::wstring file = scratch.file(L"names.ini");
        CObfuscatedIniReader writer;
        writer.Load(file);
        ASSERT_TRUE(writer.SetString(L"Keep", L"k", L"kept"));
        const std::string before = ScratchFolder::read(file);
        EXPECT_FALSE(writer.SetString(c.section, c.key, c.text)) << TestSupport::narrow(c.key);
        if (c.text == L"x") {
            EXPECT_FALSE(writer.SetInt(c.section, c.key, 1)) << TestSupport::narrow(c.key);
        }
        EXPECT_EQ(before, ScratchFolder::read(file)) << TestSupport::narrow(c.key);
        std::wstring read;
        EXPECT_FALSE(writer.GetString(c.section, c.key, read));
    }

    // Two such names are two values, never one.
    ScratchFolder scratch;
    const std::wstring file = scratch.file(L"two.ini");
    CObfuscatedIniReader writer;
    writer.Load(file);
    EXPECT_FALSE(writer.SetInt(L"S", L"\u4E00", 1));
    EXPECT_FALSE(writer.SetInt(L"S", L"\u4E8C", 2));
    CObfuscatedIniReader reader;
    reader.Load(file);
    int number = 0;
    EXPECT_FALSE(reader.GetInt(L"S", L"?", number));
}

} // namespace
