#include "QuellatProgramFixture.h"

#include "BusBrokerFixture.h"
#include "RawBusPeer.h"
#include "SettingsServicePeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <map>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using SettingsPeer::SettingsService;

namespace {

using Clock = std::chrono::steady_clock;
using Store = std::map<std::wstring, std::wstring>;

const std::wstring kViewerKey = L"Sentrel/Viewer/abc";
const std::wstring kProductKey = L"Sentrel/Product/p";

// The program beside the bus library double, whose connections all go
// through a broker of the test's own, and the settings service as a peer in
// the test process on that bus. `alertService` stands where the alert service
// would be: it sees the settings service's notices and publishes what the
// service would publish.
class QuellatOnTheBus : public QuellatTests::QuellatProgram {
protected:
    void SetUp() override
    {
        QuellatProgram::SetUp();
        ASSERT_TRUE(CopyFileW(QuellatTests::besideTests(L"Ondrel.dll").c_str(), root.file(L"Ondrel.dll").c_str(), FALSE));
        service.seed(kViewerKey, L"{}");
        service.seed(kProductKey, LR"({"pluginPath":"a","pluginFile":"b.dll"})");
    }

    // The run of one command while the test answers for the alert service.
    // The run's thread makes no assertion: the test's thread checks its result.
    std::future<TestSupport::ChildProcessResult> start(const std::vector<std::wstring>& arguments)
    {
        return std::async(std::launch::async, [this, arguments] { return launch(arguments); });
    }

    // Declared first: every connection after it goes through the broker.
    BusBroker::BusBrokerFixture broker;
    SettingsPeer::SettingsServicePeer settingsPeer;
    SettingsService& service = settingsPeer.service();
    BusDouble::RawBusPeer alertService;
};

TEST_F(QuellatOnTheBus, RegistersAProductRecordWithTheValuesAsTyped)
{
    struct Case {
        std::vector<std::wstring> arguments;
        std::wstring key;
        std::wstring record;
    };
    const std::vector<Case> cases = {
        {{L"-registerProduct=p", L"-pluginPath=$(App.Folder)\\plugins", L"-pluginFile=x.dll"}, kProductKey,
         LR"({"pluginPath":"$(App.Folder)\\plugins","pluginFile":"x.dll"})"},
        // Flags in any order, values with '=' and quotes; an empty id.
        {{L"-pluginFile=say \"hi\".dll", L"/registerProduct", L"-pluginPath=C:\\a=b"}, L"Sentrel/Product/",
         LR"({"pluginPath":"C:\\a=b","pluginFile":"say \"hi\".dll"})"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(0U, run(c.arguments)) << QuellatTests::describe(c.arguments);
        EXPECT_EQ(c.record, service.find(c.key).value_or(L"(missing)"));
        EXPECT_FALSE(service.isVolatile(c.key));
        EXPECT_EQ(QuellatTests::Lines{}, logged());
    }
    EXPECT_EQ(2U, settingsPeer.requests(SettingsService::kSetProperty).size());
}

TEST_F(QuellatOnTheBus, RegistersAViewerWithAnEmptyRecord)
{
    for (const std::wstring id : {L"v1", L""}) {
        const std::wstring key = L"Sentrel/Viewer/" + id;
        EXPECT_EQ(0U, run({L"-registerViewer=" + id}));
        EXPECT_EQ(L"{}", service.find(key).value_or(L"(missing)"));
        EXPECT_FALSE(service.isVolatile(key));
        EXPECT_EQ(QuellatTests::Lines{}, logged());
    }
}

// The alert service announces a viewer's removal as soon as it learns of it;
// the program then ends without waiting out its second.
TEST_F(QuellatOnTheBus, AViewerRemovalConfirmedByTheServiceEndsQuietly)
{
    alertService.subscribe(std::wstring(SettingsService::kNotifyDelete) + kViewerKey);
    std::future<TestSupport::ChildProcessResult> running = start({L"-unregisterViewer=abc"});
    BusDouble::RawBusPeer::Delivery removed;
    const bool seen = alertService.waitForDelivery(removed, 30s);
    if (seen)
        alertService.publish(L"Sentrel.Viewer.abc.Unregistered", L"Sentrel", L"");
    const TestSupport::ChildProcessResult result = running.get();
    ASSERT_TRUE(seen);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(0U, result.exitCode);
    EXPECT_FALSE(service.find(kViewerKey));
    EXPECT_EQ(QuellatTests::Lines{}, logged());
}

// A product's removal is never announced, and a viewer's is not when no
// service runs or the notice names another viewer: the program waits its
// second, warns and still succeeds.
TEST_F(QuellatOnTheBus, UnconfirmedRemovalsWarnAfterASecond)
{
    alertService.subscribe(std::wstring(SettingsService::kNotifyDelete) + kViewerKey);
    alertService.setResponder([](BusDouble::RawBusPeer& bus, const BusDouble::RawBusPeer::Delivery&) {
        bus.publish(L"Sentrel.Viewer.abcd.Unregistered", L"Sentrel", L"");
    });
    struct Case {
        std::wstring argument;
        std::wstring key;
        std::wstring warning;
    };
    const std::vector<Case> cases = {
        {L"-unregisterProduct=p", kProductKey,
         L"Warning: Did not receive product unregister confirmation. Plugin may not be unloaded."},
        {L"-unregisterViewer=abc", kViewerKey,
         L"Warning: Did not receive viewer unregister confirmation. Plugin may not be unloaded."},
    };
    for (const Case& c : cases) {
        const Clock::time_point begin = Clock::now();
        EXPECT_EQ(0U, run({c.argument}));
        EXPECT_GE(Clock::now() - begin, 1s);
        EXPECT_FALSE(service.find(c.key));
        EXPECT_EQ(QuellatTests::Lines{c.warning}, logged());
    }
}

TEST_F(QuellatOnTheBus, OnlyTheFirstCommandInPrecedenceRuns)
{
    struct Case {
        std::vector<std::wstring> arguments;
        Store added;
        std::vector<std::wstring> removed;
    };
    const std::vector<Case> cases = {
        {{L"-unregisterViewer=abc", L"-unregisterProduct=p", L"-registerViewer=w", L"-registerProduct=q",
          L"-pluginPath=x", L"-pluginFile=y.dll"},
         {{L"Sentrel/Product/q", LR"({"pluginPath":"x","pluginFile":"y.dll"})"}},
         {}},
        {{L"-registerViewer=w", L"-unregisterViewer=abc", L"-unregisterProduct=p"}, {}, {kProductKey}},
        {{L"-unregisterViewer=abc", L"-registerViewer=w"}, {{L"Sentrel/Viewer/w", L"{}"}}, {}},
    };
    for (const Case& c : cases) {
        service.seed(kViewerKey, L"{}");
        service.seed(kProductKey, L"{}");
        Store expected = service.contents();
        for (const auto& entry : c.added)
            expected[entry.first] = entry.second;
        for (const std::wstring& key : c.removed)
            expected.erase(key);
        const size_t requestsBefore = settingsPeer.requests().size();

        EXPECT_EQ(0U, run(c.arguments)) << QuellatTests::describe(c.arguments);
        EXPECT_EQ(expected, service.contents()) << QuellatTests::describe(c.arguments);
        EXPECT_EQ(requestsBefore + 1, settingsPeer.requests().size()) << QuellatTests::describe(c.arguments);
        logged();
    }
}

// Refused command lines reach no settings service, although one listens.
TEST_F(QuellatOnTheBus, RefusedCommandLinesChangeNothing)
{
    const Store before = service.contents();
    const std::vector<std::pair<std::vector<std::wstring>, uint32_t>> cases = {
        {{L"-?", L"-registerViewer=w"}, 0},
        {{L"-registerViewer=w", L"-pluginName=x"}, 2},
        {{L"-registerProduct=q", L"-pluginPath=x"}, 2},
        {{L"-unregisterProduct=p", L"-unregisterViewer=abc", L"-Unknown"}, 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.second, run(c.first)) << QuellatTests::describe(c.first);
    EXPECT_EQ(before, service.contents());
    EXPECT_TRUE(settingsPeer.requests().empty());
}

TEST_F(QuellatOnTheBus, ARefusingSettingsServiceFailsEveryCommand)
{
    service.setFault(SettingsPeer::Fault::Refuse);
    const Store before = service.contents();
    const std::vector<std::pair<std::wstring, std::wstring>> cases = {
        {L"-registerProduct=p -pluginPath=x -pluginFile=y.dll",
         L"Error: Failed to store product registration information in the settings manager. Product: "
         L"Sentrel/Product/p."},
        {L"-registerViewer=abc",
         L"Error: Failed to store viewer registration information in the settings manager. Viewer: "
         L"Sentrel/Viewer/abc."},
        {L"-unregisterProduct=p",
         L"Error: Failed to remove product registration information in the settings manager. Product: "
         L"Sentrel/Product/p"},
        {L"-unregisterViewer=abc",
         L"Error: Failed to remove viewer registration information in the settings manager. Viewer: "
         L"Sentrel/Viewer/abc"},
    };
    for (const auto& c : cases) {
        const std::vector<std::wstring> arguments = QuellatTests::split(c.first);
        EXPECT_EQ(1U, run(arguments)) << QuellatTests::describe(arguments);
        EXPECT_EQ(QuellatTests::Lines{c.second}, logged()) << QuellatTests::describe(arguments);
    }
    EXPECT_EQ(before, service.contents());
}

// The program's own fixed time-out is what is under test here, and it can be
// set from nowhere outside the program: this test waits it out.
TEST_F(QuellatOnTheBus, ASilentSettingsServiceFailsAfterTheTimeOut)
{
    service.setFault(SettingsPeer::Fault::NoReply);
    const Clock::time_point begin = Clock::now();
    EXPECT_EQ(1U, run({L"-unregisterViewer=abc"}));
    EXPECT_GE(Clock::now() - begin, 5s);
    EXPECT_EQ(QuellatTests::Lines{L"Error: Failed to remove viewer registration information in the settings "
                                  L"manager. Viewer: Sentrel/Viewer/abc"},
              logged());
    EXPECT_EQ(1U, settingsPeer.requests(SettingsService::kRemoveProperty).size());
}

} // namespace
