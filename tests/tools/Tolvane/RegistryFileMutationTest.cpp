#include "JSONParser.h"
#include "RegistryFileBytes.h"

#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

using Ostrand::JSONParser;
using TolvaneTests::registryFile;
using TolvaneTests::utf16le;

namespace {

// Damaged registry files made from an intact one by a seeded run of edits,
// at the level of the text (escapes, surrogates, brackets, quotes) and of
// the bytes. The parser must refuse each or read it, never crash; what it
// reads is a document that writes and reads back as itself.
TEST(RegistryFileMutation, DamagedFilesAreReadOrRefusedNeverACrash)
{
    const std::wstring intact =
        LR"({"registry":[{"appcode":"ABC"},{"appcode":"x\"y\\z"},{"appcode":"\u00e9\ud83d\ude00"},{"appcode":"Q"}]})";
    const wchar_t alphabet[] = L"{}[]\":,\\u0123456789abcdefABCDEF \t\r\nntrl-.eE";
    const unsigned surrogates[] = {0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xDABC, 0xDD1E};

    std::mt19937 random(20261211u);
    auto below = [&](size_t n) { return n == 0 ? size_t(0) : std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    auto hex4 = [](unsigned unit) {
        wchar_t text[8];
        swprintf(text, 8, L"\\u%04x", unit);
        return std::wstring(text);
    };

    TestSupport::ScratchFolder folder;
    const std::wstring path = folder.file(L"appregistry.dat");
    const int runs = 6000;
    int read = 0, refused = 0;
    for (int run = 0; run < runs; ++run) {
        std::wstring text = intact;
        const size_t edits = 1 + below(4);
        for (size_t e = 0; e < edits && !text.empty(); ++e) {
            const size_t at = below(text.size());
            switch (below(8)) {
            case 0: // an escaped surrogate, on its own or in a pair
                text.insert(at, hex4(surrogates[below(6)]) + (below(2) ? hex4(surrogates[below(6)]) : L""));
                break;
            case 1: // a raw surrogate
                text[at] = static_cast<wchar_t>(surrogates[below(6)]);
                break;
            case 2: // a unit replaced by something JSON is made of
                text[at] = alphabet[below(sizeof(alphabet) / sizeof(wchar_t) - 1)];
                break;
            case 3: // a unit replaced by anything
                text[at] = static_cast<wchar_t>(below(0x10000));
                break;
            case 4: // a run deleted
                text.erase(at, 1 + below(8));
                break;
            case 5: // a run repeated
                text.insert(at, text.substr(at, 1 + below(40)));
                break;
            case 6: // an escape written into a string
                text.insert(at, hex4(static_cast<unsigned>(below(0x10000))));
                break;
            default: // cut short
                text.resize(at);
                break;
            }
        }
        std::string bytes = below(4) ? registryFile(text) : utf16le(text);
        if (below(10) == 0 && !bytes.empty()) // and now and then a byte
            bytes[below(bytes.size())] = static_cast<char>(below(256));
        folder.write(L"appregistry.dat", bytes);

        JSONParser document;
        bool parsed = false;
        {
            FILE* file = _wfopen(path.c_str(), L"rb");
            ASSERT_NE(nullptr, file);
            parsed = document.parse(file);
            fclose(file);
        }
        if (!parsed) {
            ++refused;
            EXPECT_EQ(L"null", document.toString()) << "run " << run;
            continue;
        }
        ++read;
        std::vector<std::wstring> codes;
        document.getStringArray(L"registry", codes, L"appcode");
        EXPECT_LE(codes.size(), 64U) << "run " << run;
        // What was read is UTF-16 through and through: it writes and reads back.
        FILE* out = _wfopen(folder.file(L"copy.dat").c_str(), L"wb");
        ASSERT_NE(nullptr, out);
        EXPECT_TRUE(document.write(out)) << "run " << run;
        fclose(out);
        FILE* in = _wfopen(folder.file(L"copy.dat").c_str(), L"rb");
        ASSERT_NE(nullptr, in);
        JSONParser copy;
        EXPECT_TRUE(copy.parse(in)) << "run " << run;
        fclose(in);
        EXPECT_EQ(document.toString(), copy.toString()) << "run " << run;
        if (HasFailure())
            FAIL() << "damaged text of run " << run;
    }
    // Both ways out were taken many times.
    EXPECT_GT(read, runs / 20);
    EXPECT_GT(refused, runs / 2);
}

} // namespace
