#include "JSONParser.h"
#include "CaseName.h"
#include "RegistryFileBytes.h"

#include "ScratchFolder.h"
#include "TestNames.h"

#include <gtest/gtest.h>

#include <ostream>
#include <functional>
#include <memory>

using Ostrand::JSONParser;
using TolvaneTests::registryFile;
using TolvaneTests::utf16le;

namespace {

struct OpenFile {
    explicit OpenFile(const std::wstring& path, const wchar_t* mode) { file = _wfopen(path.c_str(), mode); }
    ~OpenFile()
    {
        if (file)
            fclose(file);
    }
    FILE* file;
};

TEST(JSONParser, NewDocumentIsEmptyNull)
{
    JSONParser document;
    EXPECT_TRUE(document.isEmpty());
    EXPECT_EQ(L"null", document.toString());
}

TEST(JSONParser, AppendToArrayBuildsOneMemberObjectsInOrderAndClearKeepsAnObject)
{
    JSONParser document;
    ASSERT_TRUE(document.appendToArray(L"registry", L"A", L"appcode"));
    ASSERT_TRUE(document.appendToArray(L"registry", L"B", L"appcode"));
    EXPECT_EQ(LR"({"registry":[{"appcode":"A"},{"appcode":"B"}]})", document.toString());
    EXPECT_FALSE(document.isEmpty());
    document.clear();
    EXPECT_EQ(L"{}", document.toString());
    EXPECT_TRUE(document.isEmpty());

    ASSERT_TRUE(document.appendToArray(L"list", L"x", L""));
    EXPECT_EQ(LR"({"list":["x"]})", document.toString());
}

TEST(JSONParser, AppendToArrayRefusesAMemberThatIsNoArray)
{
    JSONParser document;
    ASSERT_TRUE(document.parse(LR"({"registry":{"appcode":"A"}})"));
    EXPECT_FALSE(document.appendToArray(L"registry", L"B", L"appcode"));
    EXPECT_EQ(LR"({"registry":{"appcode":"A"}})", document.toString());
}

TEST(JSONParser, ClearLeavesOtherDocumentsAlone)
{
    JSONParser document;
    ASSERT_TRUE(document.parse(L"[1,2]"));
    document.clear();
    EXPECT_EQ(L"[1,2]", document.toString());
    EXPECT_TRUE(document.isEmpty());
}

TEST(JSONParser, ReplacingAMemberMovesTheLastIntoItsPlace)
{
    JSONParser document;
    document.setInt(L"a", 1);
    document.setInt(L"b", 2);
    document.setInt(L"c", 3);
    document.setInt(L"a", 4);
    EXPECT_EQ(LR"({"c":3,"b":2,"a":4})", document.toString());

    JSONParser other;
    ASSERT_TRUE(other.parse(L"[true]"));
    other.setString(L"s", L"x");
    EXPECT_EQ(LR"({"s":"x"})", other.toString());
}

TEST(JSONParser, SettersStoreTheirTypes)
{
    JSONParser document;
    document.setBool(L"b", true);
    document.setString(L"s", L"t\"\\\n\x00E9");
    document.setInt(L"i", -7);
    document.setInt64(L"i64", -5000000000LL);
    document.setUint(L"u", 4000000000U);
    document.setUint64(L"u64", 18446744073709551615ULL);
    document.setDouble(L"d", 0.5);
    EXPECT_EQ(LR"({"b":true,"s":"t\"\\\n)"
              L"\x00E9"
              LR"(","i":-7,"i64":-5000000000,"u":4000000000,"u64":18446744073709551615,"d":0.5})",
              document.toString());
}

struct GetterCase {
    const char* getter;
    const wchar_t* member;
    bool found;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const GetterCase& c, std::ostream* out) { *out << c.getter << " " << TestSupport::narrow(c.member); }

class Getters : public ::testing::TestWithParam<GetterCase> {};

// Each getter answers only for the exact type: no conversion between kinds of
// numbers, and the output stays untouched on refusal.
TEST_P(Getters, AnswerOnlyForTheirType)
{
    JSONParser document;
    ASSERT_TRUE(document.parse(LR"({"b":false,"s":"text","i":-5,"one":1,"onePointZero":1.0,)"
                               LR"("big":5000000000,"u32":4000000000,"neg64":-5000000000,"u64max":18446744073709551615,)"
                               LR"("dup":1,"dup":2})"));
    const GetterCase& c = GetParam();
    const std::string getter = c.getter;
    bool answered = false;
    if (getter == "bool") {
        bool value = true;
        answered = document.getBool(c.member, value);
        if (!answered) {
            EXPECT_TRUE(value);
        }
    } else if (getter == "string") {
        std::wstring value = L"untouched";
        answered = document.getString(c.member, value);
        EXPECT_EQ(answered ? L"text" : L"untouched", value);
    } else if (getter == "int") {
        int32_t value = 99;
        answered = document.getInt(c.member, value);
        if (!answered) {
            EXPECT_EQ(99, value);
        }
    } else if (getter == "int64") {
        int64_t value = 99;
        answered = document.getInt64(c.member, value);
        if (!answered) {
            EXPECT_EQ(99, value);
        }
    } else if (getter == "uint") {
        uint32_t value = 99;
        answered = document.getUint(c.member, value);
        if (!answered) {
            EXPECT_EQ(99U, value);
        }
    } else if (getter == "uint64") {
        uint64_t value = 99;
        answered = document.getUint64(c.member, value);
        if (!answered) {
            EXPECT_EQ(99U, value);
        }
    } else if (getter == "double") {
        double value = 99;
        answered = document.getDouble(c.member, value);
        if (!answered) {
            EXPECT_EQ(99, value);
        }
    }
    EXPECT_EQ(c.found, answered) << c.getter << " " << TestSupport::narrow(c.member);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Getters,
    ::testing::Values(GetterCase{"bool", L"b", true}, GetterCase{"bool", L"one", false},
                      GetterCase{"string", L"s", true}, GetterCase{"string", L"b", false},
                      GetterCase{"string", L"missing", false}, GetterCase{"string", L"S", false},
                      GetterCase{"int", L"i", true}, GetterCase{"int", L"onePointZero", false},
                      GetterCase{"int", L"big", false}, GetterCase{"int", L"u32", false},
                      GetterCase{"int", L"s", false}, GetterCase{"int64", L"big", true},
                      GetterCase{"int64", L"neg64", true}, GetterCase{"int64", L"u64max", false},
                      GetterCase{"uint", L"u32", true}, GetterCase{"uint", L"i", false},
                      GetterCase{"uint", L"big", false}, GetterCase{"uint64", L"u64max", true},
                      GetterCase{"uint64", L"neg64", false}, GetterCase{"double", L"onePointZero", true},
                      GetterCase{"double", L"one", false}, GetterCase{"double", L"i", false}));

TEST(JSONParser, GettersFindTheFirstOfRepeatedNamesAndStopStringsAtNul)
{
    JSONParser document;
    ASSERT_TRUE(document.parse(LR"({"dup":1,"dup":2,"s":"a\u0000b"})"));
    int32_t value = 0;
    ASSERT_TRUE(document.getInt(L"dup", value));
    EXPECT_EQ(1, value);
    std::wstring text;
    ASSERT_TRUE(document.getString(L"s", text));
    EXPECT_EQ(L"a", text);

    JSONParser array;
    ASSERT_TRUE(array.parse(L"[1]"));
    EXPECT_FALSE(array.getInt(L"0", value));
}

struct ArrayCase {
    const char* what;
    const wchar_t* text;
    const wchar_t* memberName;
    bool result;
    std::vector<std::wstring> appended;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ArrayCase& c, std::ostream* out) { *out << c.what; }

class StringArrays : public ::testing::TestWithParam<ArrayCase> {};

TEST_P(StringArrays, AppendUntilTheFirstMisfit)
{
    const ArrayCase& c = GetParam();
    JSONParser document;
    ASSERT_TRUE(document.parse(c.text));
    std::vector<std::wstring> list{L"kept"};
    EXPECT_EQ(c.result, document.getStringArray(L"registry", list, c.memberName));
    std::vector<std::wstring> expected{L"kept"};
    expected.insert(expected.end(), c.appended.begin(), c.appended.end());
    EXPECT_EQ(expected, list);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StringArrays,
    ::testing::Values(
        ArrayCase{"objects", LR"({"registry":[{"appcode":"A"},{"x":1,"appcode":"B"}]})", L"appcode", true, {L"A", L"B"}},
        ArrayCase{"plain strings", LR"({"registry":["A","B"]})", L"", true, {L"A", L"B"}},
        ArrayCase{"empty array", LR"({"registry":[]})", L"appcode", true, {}},
        ArrayCase{"number code", LR"({"registry":[{"appcode":"A"},{"appcode":1},{"appcode":"C"}]})", L"appcode",
                  false, {L"A"}},
        ArrayCase{"element no object", LR"({"registry":[{"appcode":"A"},"B"]})", L"appcode", false, {L"A"}},
        ArrayCase{"object without member", LR"({"registry":[{"code":"A"}]})", L"appcode", false, {}},
        ArrayCase{"object where string wanted", LR"({"registry":[{"appcode":"A"}]})", L"", false, {}},
        ArrayCase{"no array", LR"({"registry":{"appcode":"A"}})", L"appcode", false, {}},
        ArrayCase{"missing", LR"({"other":[]})", L"appcode", false, {}},
        ArrayCase{"no object", LR"([{"appcode":"A"}])", L"appcode", false, {}}),
    TolvaneTests::CaseName());

TEST(JSONParser, ParseFailuresLeaveTheNullDocument)
{
    const std::vector<std::wstring> texts{L"{} {}",     L"{\"a\":1", L"",  L"{\"a\":1} x", L"// c\n{}",
                                          L"{'a':1}", std::wstring(L"{}\0{\"a\":1}", 10)};
    for (const std::wstring& text : texts) {
        JSONParser document;
        ASSERT_TRUE(document.parse(LR"({"a":1})"));
        EXPECT_FALSE(document.parse(text)) << TestSupport::narrow(text);
        EXPECT_EQ(L"null", document.toString());
    }
    JSONParser document;
    EXPECT_TRUE(document.parse(L" \t\r\n{}\n "));
    EXPECT_FALSE(document.parse(static_cast<FILE*>(nullptr)));
}

class JSONParserFiles : public ::testing::Test {
protected:
    TestSupport::ScratchFolder folder;
};

TEST_F(JSONParserFiles, WriteStartsWithTheMarkAndReadsBackWithOrWithoutIt)
{
    JSONParser document;
    document.setString(L"s", L"q\"b\\c\x0001 \x00E9\xD834\xDD1E");
    const std::wstring path = folder.file(L"out.json");
    {
        OpenFile out(path, L"wb");
        ASSERT_NE(nullptr, out.file);
        ASSERT_TRUE(document.write(out.file));
    }
    const std::wstring text = L"{\"s\":\"q\\\"b\\\\c\\u0001 \x00E9\xD834\xDD1E\"}";
    EXPECT_EQ(registryFile(text), TestSupport::ScratchFolder::read(path));

    for (const std::string& bytes : {registryFile(text), utf16le(text)}) {
        const std::wstring input = folder.write(L"in.json", bytes);
        OpenFile in(input, L"rb");
        JSONParser back;
        ASSERT_TRUE(back.parse(in.file));
        EXPECT_EQ(document.toString(), back.toString());
    }
}

TEST_F(JSONParserFiles, DamagedFilesAreRefused)
{
    const std::string deepOpen(2 * 1024 * 1024, '\0');
    std::string unclosed;
    for (size_t i = 0; i < 1024 * 1024; ++i)
        unclosed += std::string("[\0", 2);
    const std::string cases[] = {
        std::string("{\"registry\":[]}"),                             // UTF-8, not UTF-16
        registryFile(L"{\"registry\":[{\"appcode\":\"A\"}").substr(0, 21), // cut short
        registryFile(L"{\"a\":\"") + std::string("\x00\xD8" "a\0\"\0}\0", 8), // lone surrogate
        registryFile(L"{\"a\":1}") + std::string("x", 1),              // odd trailing byte
        std::string("\xFE\xFF", 2) + utf16le(L"{}"),                    // big-endian mark
        unclosed,                                                       // huge and unclosed
        deepOpen,                                                       // huge, all NUL
    };
    for (const std::string& bytes : cases) {
        const std::wstring input = folder.write(L"bad.json", bytes);
        OpenFile in(input, L"rb");
        JSONParser document;
        EXPECT_FALSE(document.parse(in.file)) << bytes.size();
        EXPECT_EQ(L"null", document.toString());
    }
}

// An escaped low surrogate with no high one before it is no UTF-16 text: it
// is a parse error like any other, from a string and from a file alike,
// wherever it stands.
TEST_F(JSONParserFiles, EscapedLoneLowSurrogatesAreParseErrors)
{
    const struct {
        std::wstring text;
        bool accepted;
    } cases[] = {
        {LR"({"registry":[{"appcode":"\udc00"}]})", false},
        {LR"({"registry":[{"appcode":"x\uDFFFy"}]})", false},
        {LR"({"\udc00":1})", false},
        {LR"({"a":"\\\udc00"})", false},
        {LR"({"a":"\ud800\ud800\udc00"})", false},
        {LR"({"a":"\udbff\udfff\udc00"})", false},
        {LR"(["\uDC00"])", false},
        {LR"({"a":"\ud800\udc00"})", true},
        {LR"({"a":"\\udc00"})", true},
    };
    for (const auto& c : cases) {
        JSONParser fromText;
        EXPECT_EQ(c.accepted, fromText.parse(c.text)) << TestSupport::narrow(c.text);
        const std::wstring input = folder.write(L"in.json", registryFile(c.text));
        OpenFile in(input, L"rb");
        JSONParser fromFile;
        EXPECT_EQ(c.accepted, fromFile.parse(in.file)) << TestSupport::narrow(c.text);
        if (!c.accepted) {
            EXPECT_EQ(L"null", fromText.toString());
            EXPECT_EQ(L"null", fromFile.toString());
        }
    }
}

// The JSON library's own checks never end the process: in an optimised
// build assertions are off, and the library's checks throw an error that
// its caller handles, whether a caller misuses a value or the library meets
// text it cannot store.
TEST(JSONLibraryChecks, ThrowInsteadOfEndingTheProcess)
{
#if defined(__OPTIMIZE__) && !defined(NDEBUG)
    ADD_FAILURE() << "an optimised build with assertions on";
#endif
    const JSONParser::Value text(L"x");
    EXPECT_THROW(text.GetInt(), Ostrand::JSONLibraryError);
    JSONParser::Document document;
    EXPECT_THROW(document.Parse(LR"(["\udc00"])"), Ostrand::JSONLibraryError);
}

// Nesting deep enough to exhaust the stack of a recursive reader or writer
// is refused; the deepest accepted document can be written.
TEST_F(JSONParserFiles, DeepNestingIsRefusedBeforeItCanExhaustTheStack)
{
    const auto nested = [](size_t depth) {
        return std::wstring(depth, L'[') + L"{\"a\":1}" + std::wstring(depth, L']');
    };
    const std::wstring input = folder.write(L"deep.json", registryFile(nested(200000)));
    OpenFile in(input, L"rb");
    JSONParser document;
    EXPECT_FALSE(document.parse(in.file));
    EXPECT_EQ(L"null", document.toString());
    EXPECT_FALSE(document.parse(LR"({"a":)" + nested(511) + L"}"));

    ASSERT_TRUE(document.parse(nested(511)));
    EXPECT_EQ(nested(511), document.toString());
    OpenFile out(folder.file(L"out.json"), L"wb");
    EXPECT_TRUE(document.write(out.file));
}

TEST_F(JSONParserFiles, WriteRefusesInvalidUtf16AndUnwritableFiles)
{
    JSONParser document;
    document.setString(L"s", std::wstring(1, wchar_t(0xD800)) + L"a");
    {
        OpenFile out(folder.file(L"bad.json"), L"wb");
        EXPECT_FALSE(document.write(out.file));
    }
    JSONParser good;
    good.setString(L"s", std::wstring(300, L'x'));
    const std::wstring path = folder.write(L"readonly.json", "old");
    OpenFile readOnly(path, L"rb");
    EXPECT_FALSE(good.write(readOnly.file));
    EXPECT_FALSE(good.write(nullptr));
}

} // namespace
