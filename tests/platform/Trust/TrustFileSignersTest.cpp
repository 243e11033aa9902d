#include "TrustKit.h"

#include "trust/TrustFileSigners.h"

#include <gtest/gtest.h>
#include <wincrypt.h>

using namespace TrustTests;

namespace {

struct SignerCase {
    const char* label;
    const wchar_t* file;
    bool trusted;
};

class SignerCheck : public ::testing::TestWithParam<SignerCase> {};

// The kit's files against a policy that lists the kit's test root and signer name.
TEST_P(SignerCheck, AgainstTestRootPolicy)
{
    OwnedPolicy policy({kSignerName}, {kitThumbprint("root")}, {});
    EXPECT_EQ(GetParam().trusted, TrustCheckFileSigners(kitFile(GetParam().file).c_str(), policy.names(),
                                                        policy.roots(), policy.rootCount(), policy.serials()));
}

INSTANTIATE_TEST_SUITE_P(
    Kit, SignerCheck,
    ::testing::Values(SignerCase{"Valid", L"sample-signed.dll", true},
                      SignerCase{"UnlistedName", L"sample-stranger.dll", false},
                      SignerCase{"UnlistedRoot", L"sample-other-root.dll", false},
                      SignerCase{"ExpiredNoTimestamp", L"sample-expired.dll", false},
                      SignerCase{"ExpiredTimestampInsideValidity", L"sample-expired-ts.dll", true},
                      SignerCase{"TimestampOfAnotherSignature", L"sample-moved-timestamp.dll", false},
                      // Its own root is trusted by no one: the signer is judged today, expired.
                      SignerCase{"ExpiredTimestampOfARogueAuthority", L"sample-expired-rogue-ts.dll", false},
                      // The timestamp's own signature is damaged: no time, the signer is judged today.
                      SignerCase{"ExpiredTimestampWithBrokenSignature", L"sample-expired-broken-ts.dll", false},
                      // The time-stamp content signed again by the authority: it still counts...
                      SignerCase{"ExpiredTimestampSignedAgain", L"sample-expired-token-ts.dll", true},
                      // ...but not by a certificate under the same root without the time-stamping usage.
                      SignerCase{"ExpiredTimestampWithoutTimeStampingUsage", L"sample-expired-token-no-ts-usage.dll",
                                 false},
                      SignerCase{"NoCodeSigningUsage", L"sample-no-usage.dll", false},
                      SignerCase{"Tampered", L"sample-tampered.dll", false},
                      SignerCase{"Unsigned", L"sample-unsigned.dll", false},
                      SignerCase{"ForgedSignatureValue", L"sample-forged-signature.dll", false},
                      SignerCase{"Missing", L"no-such-file.dll", false}),
    [](const ::testing::TestParamInfo<SignerCase>& info) { return std::string(info.param.label); });

} // namespace

namespace {

// Wine 8 cannot decode a signature message with more than one signer (the
// second signer's hash is never made), so these run only where it can.
bool platformDecodes(const std::wstring& path)
{
    HCERTSTORE store = nullptr;
    HCRYPTMSG msg = nullptr;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &store, &msg, nullptr))
        return false;
    CryptMsgClose(msg);
    CertCloseStore(store, 0);
    return true;
}

TEST(SignerCheckTwoSigners, OnlyASignerThatSignedTheContentCounts)
{
    const std::wstring valid = kitFile(L"sample-two-signers.dll");
    const std::wstring forged = kitFile(L"sample-forged-second.dll");
    if (!platformDecodes(valid))
        GTEST_SKIP() << "this platform cannot decode a message with two signers";
    OwnedPolicy policy({kSignerName}, {kitThumbprint("root")}, {});
    EXPECT_TRUE(TrustCheckFileSigners(valid.c_str(), policy.names(), policy.roots(), policy.rootCount(),
                                      policy.serials()));
    EXPECT_FALSE(TrustCheckFileSigners(forged.c_str(), policy.names(), policy.roots(), policy.rootCount(),
                                       policy.serials()));
}

} // namespace

namespace {

struct PolicyCase {
    const char* label;
    std::vector<std::wstring> names;
    bool nullNames;
    std::vector<std::string> roots; // kit certificate names, or "short"
    std::vector<std::wstring> serials;
    bool nullSerials;
    bool trusted;
};

class SignerPolicy : public ::testing::TestWithParam<PolicyCase> {};

// The valid kit file against policies that differ in one list each.
TEST_P(SignerPolicy, ValidFile)
{
    const PolicyCase& c = GetParam();
    std::vector<std::vector<BYTE>> roots;
    for (const auto& r : c.roots)
    {
        std::vector<BYTE> thumbprint = kitThumbprint(r == "short" ? "root" : r);
        if (r == "short")
            thumbprint.pop_back();
        roots.push_back(thumbprint);
    }
    OwnedPolicy policy(c.names, roots, c.serials, c.nullNames, c.nullSerials);
    EXPECT_EQ(c.trusted, TrustCheckFileSigners(kitFile(L"sample-signed.dll").c_str(), policy.names(), policy.roots(),
                                               policy.rootCount(), policy.serials()));
}

INSTANTIATE_TEST_SUITE_P(
    Lists, SignerPolicy,
    ::testing::Values(
        PolicyCase{"SerialExcludedUpper", {kSignerName}, false, {"root"}, {L"0102", L"5EA1AB01"}, false, false},
        PolicyCase{"SerialExcludedLower", {kSignerName}, false, {"root"}, {L"5ea1ab01"}, false, false},
        PolicyCase{"OtherSerialExcluded", {kSignerName}, false, {"root"}, {L"5EA1AB02"}, false, true},
        PolicyCase{"NullSerials", {kSignerName}, false, {"root"}, {}, true, true},
        PolicyCase{"NameCaseIgnored", {L"halvex TEST signer"}, false, {"root"}, {}, false, true},
        PolicyCase{"NameNotListed", {L"Corvane, Inc."}, false, {"root"}, {}, false, false},
        PolicyCase{"NullNamesAcceptAny", {}, true, {"root"}, {}, false, true},
        PolicyCase{"OnlyOtherRootListed", {kSignerName}, false, {"otherroot"}, {}, false, false},
        PolicyCase{"SecondRootListed", {kSignerName}, false, {"otherroot", "root"}, {}, false, true},
        PolicyCase{"NoRootsAcceptAny", {kSignerName}, false, {}, {}, false, true},
        PolicyCase{"ShortThumbprintNeverMatches", {kSignerName}, false, {"short"}, {}, false, false}),
    [](const ::testing::TestParamInfo<PolicyCase>& info) { return std::string(info.param.label); });

TEST(SignerCheckPath, NullOrEmptyIsNotTrusted)
{
    EXPECT_FALSE(TrustCheckFileSigners(nullptr, nullptr, nullptr, 0, nullptr));
    EXPECT_FALSE(TrustCheckFileSigners(L"", nullptr, nullptr, 0, nullptr));
}

} // namespace
