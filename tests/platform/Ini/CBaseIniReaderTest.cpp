#include "Ini/CBaseIniReader.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

using namespace Halvex;
using TestSupport::ScratchFolder;

namespace {

// The smallest cache the base class can drive: it records what it is asked
// to store and keeps plain text.
class PlainIniReader : public CBaseIniReader {
public:
    bool GetIntValue(const std::wstring& name, int& value) override
    {
        std::wstring text;
        if (!GetStringValue(name, text))
            return false;
        value = _wtoi(text.c_str());
        return true;
    }
    bool GetStringValue(const std::wstring& name, std::wstring& value) override
    {
        auto found = values.find(name);
        if (found == values.end())
            return false;
        value = found->second;
        return true;
    }
    bool GetSection(const std::wstring&, std::map<std::wstring, std::wstring>&) override { return false; }
    bool CacheValue(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                    bool overwrite) override
    {
        calls.emplace_back(section, key, value, overwrite);
        const std::wstring name = section + L"." + key;
        if (!overwrite && values.count(name))
            return false;
        values[name] = value;
        return true;
    }

    std::map<std::wstring, std::wstring> values;
    std::vector<std::tuple<std::wstring, std::wstring, std::wstring, bool>> calls;
};

TEST(CBaseIniReaderTest, PlainWritesGoThroughTheProfileFunctionsAndTheCache)
{
    ScratchFolder scratch;
    const std::wstring file = scratch.file(L"plain.ini");
    PlainIniReader reader;
    EXPECT_FALSE(reader.SetString(L"S", L"k", L"v")); // no file yet
    EXPECT_FALSE(reader.Load(file));                  // missing: name kept
    ASSERT_TRUE(reader.SetInt(L"S", L"n", -42));
    ASSERT_TRUE(reader.SetString(L"S", L"k", L"text value"));
    EXPECT_EQ(ScratchFolder::read(file), "[S]\r\nn=-42\r\nk=text value\r\n");
    ASSERT_EQ(reader.calls.size(), 2u);
    EXPECT_EQ(reader.calls[0], std::make_tuple(std::wstring(L"S"), std::wstring(L"n"), std::wstring(L"-42"), true));
    int number = 0;
    EXPECT_TRUE(reader.GetInt(L"S", L"n", number));
    EXPECT_EQ(number, -42);

    PlainIniReader again;
    ASSERT_TRUE(again.Load(file));
    std::wstring text;
    EXPECT_TRUE(again.GetString(L"S", L"k", text));
    EXPECT_EQ(text, L"text value");
    ASSERT_EQ(again.calls.size(), 2u);
    EXPECT_FALSE(std::get<3>(again.calls[0])); // loading never overwrites
    EXPECT_EQ(again.EntryCount(), 2u);
    EXPECT_EQ(again.SectionCount(), 1u);
}

TEST(CBaseIniReaderTest, ParseLineTakesNullAndBareText)
{
    PlainIniReader reader;
    reader.ParseLine(nullptr);
    reader.ParseLine("");
    reader.ParseLine("[");
    reader.ParseLine("]");
    reader.ParseLine("[]");
    reader.ParseLine("=");
    reader.ParseLine("key=value\n");
    EXPECT_EQ(reader.SectionCount(), 0u);
    ASSERT_EQ(reader.calls.size(), 2u);
    EXPECT_EQ(reader.calls[0], std::make_tuple(std::wstring(), std::wstring(), std::wstring(), false));
    EXPECT_EQ(reader.calls[1],
              std::make_tuple(std::wstring(), std::wstring(L"key"), std::wstring(L"value"), false));
}

} // namespace
