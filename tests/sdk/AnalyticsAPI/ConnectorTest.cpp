#include "AnalyticsAPI/CSDKConnector.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>

namespace {

using namespace Ostrand::Analytics;

class FakeTransport : public internal::CBaseTransport {
public:
    FakeTransport(const wchar_t* name, bool available) : CBaseTransport(name, 7), m_available(available) {}
    bool IsAvailable() override { return m_available; }
    bool Send(const DimensionMap& dimensions) override
    {
        if (m_throws)
            throw std::bad_alloc();
        sent.push_back(dimensions);
        return true;
    }
    void Close() override { ++closed; }

    bool m_available;
    bool m_throws = false;
    std::vector<DimensionMap> sent;
    int closed = 0;
};

std::wstring doubledHostPath()
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    std::wstring doubled;
    for (DWORD i = 0; i < length; ++i) {
        doubled += path[i];
        if (path[i] == L'\\')
            doubled += L'\\';
    }
    return doubled;
}

TEST(Connector, FirstAvailableTransportGetsTheRecordWithTheSendersDimensions)
{
    auto down = std::make_shared<FakeTransport>(L"Down", false);
    auto up = std::make_shared<FakeTransport>(L"Up", true);
    auto last = std::make_shared<FakeTransport>(L"Last", true);
    CSDKConnector connector(std::make_shared<const TransportList>(TransportList{down, up, last}));

    ASSERT_TRUE(connector.Connect());
    DimensionMap record = {{L"k", L"v"}, {L"__transport.name", L"stale"}};
    EXPECT_TRUE(connector.Send(record));
    connector.Disconnect();

    EXPECT_EQ(1, down->closed);
    EXPECT_EQ(1, up->closed);
    EXPECT_TRUE(last->sent.empty());
    ASSERT_EQ(1u, up->sent.size());
    const DimensionMap& sent = up->sent[0];
    EXPECT_EQ(L"v", sent.at(L"k"));
    EXPECT_EQ(L"Up v7", sent.at(L"__transport.name"));
    EXPECT_EQ(doubledHostPath(), sent.at(L"__caller.name"));
    EXPECT_NE(std::wstring::npos, sent.at(L"__caller.name").find(L"\\\\"));
}

TEST(Connector, NoAvailableTransportFallsBackToTheNullTransport)
{
    auto down = std::make_shared<FakeTransport>(L"Down", false);
    CSDKConnector connector(std::make_shared<const TransportList>(TransportList{down}));
    auto chosen = connector.SelectTransport();
    ASSERT_TRUE(chosen);
    EXPECT_EQ(L"NULL-Pattern", chosen->GetName());
    EXPECT_EQ(1, chosen->GetVersion());
    EXPECT_TRUE(chosen->Send({}));

    DimensionMap record;
    EXPECT_FALSE(connector.Send(record)) << "not connected";
    EXPECT_TRUE(record.empty());
}

TEST(Connector, ATransportThatThrowsIsAFailedSend)
{
    auto throwing = std::make_shared<FakeTransport>(L"Throws", true);
    throwing->m_throws = true;
    CSDKConnector connector(std::make_shared<const TransportList>(TransportList{throwing}));
    ASSERT_TRUE(connector.Connect());
    DimensionMap record = {{L"k", L"v"}};
    EXPECT_FALSE(connector.Send(record));
}

} // namespace
