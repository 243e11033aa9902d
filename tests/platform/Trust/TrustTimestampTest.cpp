#include "TrustKit.h"

#include "ScratchFolder.h"

#include "trust/TrustFileSigners.h"
#include "trust/TrustTimestamp.h"

#include <gtest/gtest.h>

#include <random>

using namespace TrustTests;
using Halvex::trust::TrustParseUtcTime;

namespace {

struct UtcCase {
    const char* label;
    std::string bytes;
    bool parsed;
    WORD year;
};

class UtcTime : public ::testing::TestWithParam<UtcCase> {};

TEST_P(UtcTime, ReadDigitByDigit)
{
    const UtcCase& c = GetParam();
    FILETIME ft{};
    bool parsed = TrustParseUtcTime(reinterpret_cast<const BYTE*>(c.bytes.data()), c.bytes.size(), ft);
    ASSERT_EQ(c.parsed, parsed);
    if (!parsed)
        return;
    SYSTEMTIME st{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(c.year, st.wYear);
    EXPECT_EQ(0, st.wMilliseconds);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UtcTime,
    ::testing::Values(UtcCase{"Year20xx", std::string("\x17\x0d") + "200601120000Z", true, 2020},
                      UtcCase{"Year19xx", std::string("\x17\x0d") + "991231235959Z", true, 1999},
                      UtcCase{"Boundary70", std::string("\x17\x0d") + "700101000000Z", true, 1970},
                      UtcCase{"NotADigit", std::string("\x17\x0d") + "2006011200x0Z", false, 0},
                      UtcCase{"NoZone", std::string("\x17\x0d") + "2006011200000", false, 0},
                      UtcCase{"BadMonth", std::string("\x17\x0d") + "201301120000Z", false, 0},
                      UtcCase{"GeneralizedTime", std::string("\x18\x0f") + "20200601120000Z", false, 0},
                      UtcCase{"Short", std::string("\x17\x0c") + "2006011200Z", false, 0}),
    [](const ::testing::TestParamInfo<UtcCase>& info) { return std::string(info.param.label); });

// A bounded, seeded run of damaged signatures (the certificate table of a
// file with a timestamp): reading damaged messages, attributes and tokens
// never crashes. Many bytes (the copies of the roots, the token's
// certificates) do not decide trust, so a damaged file may still pass; a
// damaged signature value never does.
TEST(SignatureMutation, DamagedSignaturesAreReadSafely)
{
    const std::string original = TestSupport::ScratchFolder::read(kitFile(L"sample-expired-ts.dll"));
    ASSERT_GT(original.size(), 4096u);
    const DWORD peOffset = *reinterpret_cast<const DWORD*>(original.data() + 0x3C);
    const DWORD tableOffset = *reinterpret_cast<const DWORD*>(original.data() + peOffset + 24 + 112 + 32);
    ASSERT_GT(tableOffset, 0u);
    ASSERT_LT(tableOffset + 8, original.size());
    OwnedPolicy policy({kSignerName}, {kitThumbprint("root")}, {});
    TestSupport::ScratchFolder folder;
    auto check = [&](const std::string& bytes) {
        std::wstring path = folder.write(L"mutated.dll", bytes);
        return TrustCheckFileSigners(path.c_str(), policy.names(), policy.roots(), policy.rootCount(),
                                     policy.serials());
    };
    ASSERT_TRUE(check(original));

    std::mt19937 rng(1210);
    const size_t span = original.size() - tableOffset - 8;
    int refused = 0;
    for (int round = 0; round < 150; ++round) {
        std::string bytes = original;
        int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            size_t at = tableOffset + 8 + rng() % span;
            bytes[at] = static_cast<char>(bytes[at] ^ static_cast<char>(1 + rng() % 255));
        }
        refused += check(bytes) ? 0 : 1;
    }
    EXPECT_GT(refused, 0);

    // The signer's signature value sits right before its unsigned attributes,
    // whose timestamp token starts with a known object identifier.
    const std::string rfc3161Oid("\x06\x0a\x2b\x06\x01\x04\x01\x82\x37\x03\x03\x01", 12);
    size_t token = original.find(rfc3161Oid, tableOffset);
    ASSERT_NE(std::string::npos, token);
    for (size_t back = 16; back < 200; back += 37) {
        std::string bytes = original;
        bytes[token - back] = static_cast<char>(bytes[token - back] ^ 0x01);
        EXPECT_FALSE(check(bytes)) << "signature value byte " << back << " before the token";
    }
}

} // namespace
