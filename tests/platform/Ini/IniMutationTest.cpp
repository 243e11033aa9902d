#include "Ini/CObfuscatedIniReader.h"
#include "IniTestText.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>

using namespace Halvex;
using TestSupport::ScratchFolder;

namespace {

// Damaged ini texts made from an intact one by a seeded run of random edits.
// The reader must never crash, and whatever it still answers must be what
// was stored: a damaged value is unreadable, never a different value.
TEST(IniMutationTest, DamagedTextsNeverCrashOrAnswerWrongValues)
{
    const std::string intact = "; log settings\r\n[Config]\r\n" +
                               IniText::pairLines("LastLogIdx", IniText::kLastLogIdxHeader, IniText::kLastLogIdxData) +
                               IniText::pairLines("Name", IniText::kNameHeader, IniText::kNameData) +
                               "Severity=3\r\n[Other]\r\n" +
                               IniText::pairLines("Neg", IniText::kNegHeader, IniText::kNegData);
    const char alphabet[] = "0123456789ABCDEFabcdef_=[]; \t\r\n.\x1a\x00\xff";

    std::mt19937 random(20261210u);
    auto below = [&](size_t n) { return n == 0 ? size_t(0) : std::uniform_int_distribution<size_t>(0, n - 1)(random); };

    ScratchFolder scratch;
    const std::wstring file = scratch.file(L"mutated.ini");
    const int runs = 3000;
    int readable = 0;
    for (int run = 0; run < runs; ++run) {
        std::string text = intact;
        const size_t edits = 1 + below(4);
        for (size_t e = 0; e < edits && !text.empty(); ++e) {
            const size_t at = below(text.size());
            switch (below(6)) {
            case 0: // one byte replaced by anything
                text[at] = static_cast<char>(below(256));
                break;
            case 1: // one byte replaced by something an ini text is made of
                text[at] = alphabet[below(sizeof(alphabet) - 1)];
                break;
            case 2: // a run deleted
                text.erase(at, 1 + below(12));
                break;
            case 3: // a run repeated
                text.insert(at, text.substr(at, 1 + below(80)));
                break;
            case 4: // text inserted
                text.insert(at, std::string(1 + below(6), alphabet[below(sizeof(alphabet) - 1)]));
                break;
            default: // cut short
                text.resize(at);
                break;
            }
        }
        scratch.write(L"mutated.ini", text);

        CObfuscatedIniReader reader;
        reader.Load(file);
        int number = 0;
        std::wstring value;
        if (reader.GetInt(L"Config", L"LastLogIdx", number)) {
            EXPECT_EQ(number, 5) << "run " << run;
            ++readable;
        }
        if (reader.GetString(L"Config", L"Name", value)) {
            EXPECT_EQ(value, L"Sentrel") << "run " << run;
        }
        if (reader.GetInt(L"Other", L"Neg", number)) {
            EXPECT_EQ(number, -123456) << "run " << run;
        }
        EXPECT_FALSE(reader.GetInt(L"Config", L"Severity", number)) << "run " << run;
        std::map<std::wstring, std::wstring> section;
        reader.GetSection(L"Config", section);
        if (HasFailure())
            FAIL() << "mutated text of run " << run << ":\n" << text;
    }
    // Most edits miss a given value: the run exercised the reading path too.
    EXPECT_GT(readable, runs / 4);
}

} // namespace
