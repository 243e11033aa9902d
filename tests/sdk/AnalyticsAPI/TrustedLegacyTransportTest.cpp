// The transport creating the telemetry server through the trusted creation:
// the server double that also offers the private trusted class factory,
// registered for the telemetry class in a signed or an unsigned copy, with a
// trusted-signer list of the test's own deciding whether its signer counts.
#include "GlobalListScope.h"
#include "TrustKit.h"

#include "ChildProcess.h"
#include "TelemetryServerFixture.h"

#include "AnalyticsAPI/CLegacyTransport.h"
#include "AnalyticsAPI/IFormatter.h"
#include "AnalyticsAPI/v2/Event.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <set>

namespace {

using namespace Ostrand::Analytics;
using TestSupport::TelemetryServerFixture;

const std::vector<std::wstring> kTwoTrusted = {L"trusted", L"trusted"};
const std::vector<std::wstring> kTwoPlain = {L"plain", L"plain"};

// Only the list decides: the validation service double, should the machine
// name it, vouches for nothing without its verdict switch.
void trustOnly(TrustTests::GlobalListScope& scope, const char* root)
{
    SetEnvironmentVariableW(L"DRELLIN_DOUBLE_VERDICT", nullptr);
    scope.writeList(TrustTests::listText("8", {TrustTests::kitThumbprintText(root)}));
}

std::wstring hostPathDoubled()
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    std::wstring doubled;
    for (DWORD i = 0; i < length && i <= MAX_PATH; ++i)
        doubled.append(path[i] == L'\\' ? 2 : 1, path[i]);
    return doubled;
}

TEST(TrustedTelemetryServer, SignedServerIsMadeThroughTheTrustedFactoryAndGetsEachRecordExactly)
{
    TrustTests::GlobalListScope scope;
    trustOnly(scope, "root");
    TelemetryServerFixture server(TestSupport::buildMachinePath(TELEMETRY_SERVER_SIGNED));

    v2::CEvent(L"Sentrel.Alert.Shown")
        .Category(L"Kest")
        .Action(L"Show")
        .Add(L"Path", L"C:\\a\n\"b\"/\x7F\xE9")
        .Value(4294967295u)
        .Send();

    // The availability probe and the send each made their object the trusted way.
    EXPECT_EQ(kTwoTrusted, server.creations());
    auto records = server.records();
    ASSERT_EQ(1u, records.size());
    std::map<std::wstring, std::wstring> members;
    ASSERT_TRUE(TestSupport::parseFlatRecord(records[0], members)) << records[0];
    std::set<std::wstring> keys;
    for (const auto& member : members)
        keys.insert(member.first);
    const std::set<std::wstring> expectedKeys = {
        L"UniqueIdentifier", L"Event.Category", L"Event.Action", L"Path", L"Event.Value", L"__track.api.version",
        L"Tracker.Type", L"__record.created", L"__record.created.seconds", L"__caller.name", L"__transport.name"};
    EXPECT_EQ(expectedKeys, keys);
    EXPECT_EQ(L"Sentrel.Alert.Shown", members[L"UniqueIdentifier"]);
    EXPECT_EQ(L"Kest", members[L"Event.Category"]);
    EXPECT_EQ(L"Show", members[L"Event.Action"]);
    EXPECT_EQ(L"C:\\a\n\"b\"/\x7F\xE9", members[L"Path"]);
    EXPECT_EQ(L"4294967295", members[L"Event.Value"]);
    EXPECT_EQ(L"1.2.0", members[L"__track.api.version"]);
    EXPECT_EQ(L"event", members[L"Tracker.Type"]);
    EXPECT_EQ(L"Legacy v1", members[L"__transport.name"]);
    EXPECT_EQ(hostPathDoubled(), members[L"__caller.name"]);

    // What the writer makes of a record is exactly what the server receives.
    const DimensionMap record = {{L"Quote", L"say \"hi\"\tnow"}, {L"Empty", L""}, {L"Accent", L"\xE9\xA0"}};
    std::wstring expected;
    ASSERT_TRUE(CJSONFormatter().Format(record, expected));
    CLegacyTransport transport;
    EXPECT_TRUE(transport.Send(record));
    records = server.records();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(expected, records[1]);
    EXPECT_EQ(3u, server.creations().size());
    EXPECT_EQ(L"trusted", server.creations().back());
}

// Whatever keeps the trusted creation from making an object, the plain
// creation of the same server still carries the record.
struct NoTrustedObject {
    const char* label;
    const char* server;        // build path of the server library
    const char* listedRoot;    // the kit root the trusted-signer list vouches for
    const wchar_t* trustedAnswer; // what the trusted factory answers instead of making an object
};

void PrintTo(const NoTrustedObject& c, std::ostream* out)
{
    *out << c.label;
}

class TrustedCreationYieldsNothing : public ::testing::TestWithParam<NoTrustedObject> {};

TEST_P(TrustedCreationYieldsNothing, ThePlainCreationCarriesTheRecord)
{
    const NoTrustedObject& c = GetParam();
    TrustTests::GlobalListScope scope;
    trustOnly(scope, c.listedRoot);
    TelemetryServerFixture server(TestSupport::buildMachinePath(c.server));
    SetEnvironmentVariableW(L"SENTREL_TELEMETRY_TRUSTED_RESULT", c.trustedAnswer);

    v2::CEvent(L"Sentrel.Alert.Shown").Category(L"Kest").Send();

    EXPECT_EQ(kTwoPlain, server.creations());
    const auto records = server.records();
    ASSERT_EQ(1u, records.size());
    std::map<std::wstring, std::wstring> members;
    ASSERT_TRUE(TestSupport::parseFlatRecord(records[0], members)) << records[0];
    EXPECT_EQ(L"Kest", members[L"Event.Category"]);
    EXPECT_EQ(L"Legacy v1", members[L"__transport.name"]);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrustedCreationYieldsNothing,
    ::testing::Values(NoTrustedObject{"UnsignedLibrary", TELEMETRY_SERVER_TRUSTED_UNSIGNED, "root", nullptr},
                      NoTrustedObject{"SignerNotVouchedFor", TELEMETRY_SERVER_SIGNED, "otherroot", nullptr},
                      NoTrustedObject{"TrustedFactoryFails", TELEMETRY_SERVER_SIGNED, "root", L"80004005"},
                      NoTrustedObject{"TrustedFactorySucceedsWithoutObject", TELEMETRY_SERVER_SIGNED, "root", L"0"}),
    [](const ::testing::TestParamInfo<NoTrustedObject>& info) { return std::string(info.param.label); });

} // namespace
