#include "AnalyticsAPI/CLegacyTransport.h"
#include "AnalyticsAPI/CSDKConnector.h"
#include "AnalyticsAPI/v2/Event.h"
#include "TelemetryServerFixture.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <set>
#include <thread>

namespace {

using namespace Ostrand::Analytics;
using TestSupport::TelemetryServerFixture;

std::map<std::wstring, std::wstring> onlyRecord(const TelemetryServerFixture& server)
{
    const auto records = server.records();
    EXPECT_EQ(1u, records.size());
    std::map<std::wstring, std::wstring> members;
    if (!records.empty()) {
        EXPECT_TRUE(TestSupport::parseFlatRecord(records[0], members)) << records[0];
    }
    return members;
}

TEST(LegacyTransport, SentEventReachesTheServerWithEveryFixedDimension)
{
    TelemetryServerFixture server;
    v2::CEvent(L"Sentrel.Alert.Request").Category(L"Kest").Add(L"Path", L"C:\\a\n\"b\"/\x7F").Send();

    const auto record = onlyRecord(server);
    EXPECT_EQ(L"Sentrel.Alert.Request", record.at(L"UniqueIdentifier"));
    EXPECT_EQ(L"Kest", record.at(L"Event.Category"));
    EXPECT_EQ(L"C:\\a\n\"b\"/\x7F", record.at(L"Path"));
    EXPECT_EQ(L"1.2.0", record.at(L"__track.api.version"));
    EXPECT_EQ(L"event", record.at(L"Tracker.Type"));
    EXPECT_EQ(L"Legacy v1", record.at(L"__transport.name"));
    EXPECT_EQ(20u, record.at(L"__record.created").size()) << record.at(L"__record.created");
    EXPECT_EQ(0u, record.count(L"__record.created.raw"));
    EXPECT_FALSE(record.at(L"__record.created.seconds").empty());
    EXPECT_NE(std::wstring::npos, record.at(L"__caller.name").find(L"\\\\"));

    // The raw text: escapes of the writer, the caller's separators four times over.
    const std::wstring raw = server.records().at(0);
    EXPECT_NE(std::wstring::npos, raw.find(L"\"Path\":\"C:\\\\a\\n\\\"b\\\"\\/\\u007F\"")) << raw;
    EXPECT_NE(std::wstring::npos, raw.find(L"\\\\\\\\")) << raw;
}

TEST(LegacyTransport, UnregisteredServerSendsEveryEventToTheNullTransport)
{
    TelemetryServerFixture server(false);
    CLegacyTransport transport;
    EXPECT_FALSE(transport.IsAvailable());
    EXPECT_FALSE(transport.Send({{L"k", L"v"}}));

    CSDKConnector connector;
    ASSERT_TRUE(connector.Connect());
    DimensionMap record = {{L"k", L"v"}};
    EXPECT_TRUE(connector.Send(record));
    EXPECT_EQ(L"NULL-Pattern v1", record.at(L"__transport.name"));
    EXPECT_TRUE(server.records().empty());
}

TEST(LegacyTransport, FailingServerResultIsAFailedSendAndAnEmptyRecordIsNotSent)
{
    TelemetryServerFixture server;
    CLegacyTransport transport;
    EXPECT_TRUE(transport.IsAvailable());
    EXPECT_FALSE(transport.Send({}));
    server.setResult(static_cast<long>(0x80004005L));
    EXPECT_FALSE(transport.Send({{L"k", L"v"}}));
    server.setResult(1); // S_FALSE is not negative: a success
    EXPECT_TRUE(transport.Send({{L"k", L"v"}}));
    EXPECT_EQ(1u, server.records().size());
}

TEST(LegacyTransport, ThreadAlreadyInASingleThreadedApartmentKeepsItAndStillSends)
{
    TelemetryServerFixture server;
    bool sent = false;
    HRESULT apartmentAfter = E_FAIL;
    std::thread worker([&] {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        sent = CLegacyTransport().Send({{L"k", L"v"}});
        // Still single-threaded: asking for it again answers S_FALSE, not a mode change.
        apartmentAfter = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(apartmentAfter))
            CoUninitialize();
        CoUninitialize();
    });
    worker.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(S_FALSE, apartmentAfter);
    EXPECT_EQ(1u, server.records().size());
}

TEST(LegacyTransport, AnotherClassIdIsUsedWhenGivenAndTheDefaultOtherwise)
{
    const CLSID other = {0x1, 0x2, 0x3, {0, 1, 2, 3, 4, 5, 6, 7}};
    EXPECT_TRUE(IsEqualCLSID(other, CLegacyTransport(other).ClassId()));
    const CLSID serverClass = {0xE782BE15, 0x9936, 0x4A7F, {0x8D, 0xF9, 0x9A, 0xB9, 0x5D, 0x22, 0x9D, 0xF1}};
    EXPECT_TRUE(IsEqualCLSID(serverClass, CLegacyTransport().ClassId()));
    TelemetryServerFixture server;
    EXPECT_FALSE(CLegacyTransport(other).IsAvailable());
}

TEST(LegacyTransport, AnEventSentTwiceCarriesTheSameDimensionsAgain)
{
    TelemetryServerFixture server;
    v2::CEvent event(L"Sentrel.Alert.Request");
    event.Category(L"Kest").Add(L"Attempt", L"one");
    event.Send();
    event.Send();

    const auto records = server.records();
    ASSERT_EQ(2u, records.size());
    std::map<std::wstring, std::wstring> first, second;
    ASSERT_TRUE(TestSupport::parseFlatRecord(records[0], first)) << records[0];
    ASSERT_TRUE(TestSupport::parseFlatRecord(records[1], second)) << records[1];
    // Only the times may differ between the two sends.
    for (auto* record : {&first, &second}) {
        EXPECT_EQ(1u, record->erase(L"__record.created"));
        EXPECT_EQ(1u, record->erase(L"__record.created.seconds"));
    }
    EXPECT_EQ(first, second);
    EXPECT_EQ(L"one", first[L"Attempt"]);
}

TEST(LegacyTransport, EventsSentFromSeveralThreadsAtOnceAllArriveWhole)
{
    TelemetryServerFixture server;
    const int threads = 4, perThread = 6;
    std::vector<std::thread> senders;
    for (int t = 0; t < threads; ++t)
        senders.emplace_back([t] {
            for (int i = 0; i < perThread; ++i)
                v2::CEvent((L"E" + std::to_wstring(t) + L"." + std::to_wstring(i)).c_str())
                    .Add(L"Payload", std::wstring(200 + i, static_cast<wchar_t>(L'a' + t)))
                    .Send();
        });
    for (auto& sender : senders)
        sender.join();

    std::set<std::wstring> names;
    for (const auto& raw : server.records()) {
        std::map<std::wstring, std::wstring> record;
        ASSERT_TRUE(TestSupport::parseFlatRecord(raw, record)) << raw;
        EXPECT_EQ(L"Legacy v1", record[L"__transport.name"]);
        const std::wstring name = record[L"UniqueIdentifier"];
        const int t = name.size() > 1 ? name[1] - L'0' : 0, i = name.size() > 3 ? name[3] - L'0' : 0;
        EXPECT_EQ(std::wstring(200 + i, static_cast<wchar_t>(L'a' + t)), record[L"Payload"]) << name;
        names.insert(name);
    }
    EXPECT_EQ(static_cast<size_t>(threads * perThread), names.size());
}

} // namespace
