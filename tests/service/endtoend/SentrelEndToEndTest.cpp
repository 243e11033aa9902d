// The alert service as a whole: Sentrel.dll driven through its module table
// in this process, with the settings service, a product's plugin, a viewer
// and the session API as doubles, and a product asking on the bus double.
#include "ChildProcess.h"
#include "JsonText.h"
#include "PluginDoubleControl.h"
#include "RawBusPeer.h"
#include "ScratchFolder.h"
#include "SettingsServicePeer.h"
#include "TestNames.h"
#include "ToolLogFolder.h"
#include "ViewerDouble.h"
#include "WtsDoubleControl.h"

#include "Logging/CLoggingIf.h"
#include "ModuleFunctions.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using TestSupport::jsonText;

const std::wstring kViewer = L"EndToEndViewer";
const std::wstring kProduct = L"EndToEndProduct";
const std::wstring kPluginFile = L"endtoendplugin.dll";
const uint32_t kSession = 3;

MODULE_STATUS managerCallback(void*, void*, void*, void*)
{
    return MODULE_STATUS_SUCCESS;
}

// An alert request as a product writes it.
std::wstring showRequest(const std::wstring& alertId, const std::wstring& instanceId, const std::wstring& viewer)
{
    return L"{\"id\":" + jsonText(alertId) + L",\"instanceId\":" + jsonText(instanceId) +
           L",\"priority\":\"P2\",\"product\":" + jsonText(kProduct) +
           L",\"source\":\"client\",\"forcePreferredViewer\":true,\"preferredViewer\":[" + jsonText(viewer) +
           L"],\"context\":{\"reason\":\"test\"},\"timeout\":30,\"sessionId\":" + std::to_wstring(kSession) + L"}";
}

class SentrelEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(log.ready());
        control().reset();
        // Requests between the service and its peers that go unanswered end
        // in a fraction of their real time-out.
        control().setTimeScale(0.05);

        ASSERT_TRUE(wts.ready());
        // Logged on a day ago: the user session shows at once.
        wts.setActiveSession(kSession);
        wts.setLoggedOnSecondsAgo(kSession, 24 * 3600);

        plugin.content(L"shown by {viewer}");
        PluginDouble::Control::install(folder.path(), kPluginFile);
        settings.service().seed(L"Sentrel/Viewer/" + kViewer, L"{}");
        settings.service().seed(L"Sentrel/Product/" + kProduct,
                                L"{\"pluginPath\":" + jsonText(folder.path()) + L",\"pluginFile\":" +
                                    jsonText(kPluginFile) + L"}");

        // Loaded from the program's folder first, as a host loads it: the
        // bus and session libraries beside this program are the doubles.
        library = LoadLibraryW(TestSupport::buildMachinePath(SENTREL_PATH).c_str());
        ASSERT_NE(nullptr, library) << GetLastError();
        ASSERT_TRUE(WtsDouble::WtsDoubleControl::doubleLoaded());
        const auto createObject =
            reinterpret_cast<CreateObjectFunction>(reinterpret_cast<void*>(GetProcAddress(library, "CreateObject")));
        ASSERT_NE(nullptr, createObject);
        table = static_cast<const ModuleFunctions*>(createObject(MODULE_LIBRARY_VERSION_NUM));
        ASSERT_NE(nullptr, table);

        ASSERT_EQ(MODULE_STATUS_SUCCESS, table->NewModule(&handle, moduleName.c_str()));
        ASSERT_EQ(MODULE_STATUS_SUCCESS, table->InitializeModule(handle, moduleName.c_str(), L"", 0, nullptr, nullptr,
                                                                 this, &managerCallback));
        ASSERT_EQ(MODULE_STATUS_SUCCESS, table->StartModule(handle));
    }

    void TearDown() override { endModule(); }

    // The host's last three steps; the library stays loaded.
    void endModule()
    {
        if (!handle)
            return;
        EXPECT_EQ(MODULE_STATUS_SUCCESS, table->StopModule(handle));
        EXPECT_EQ(MODULE_STATUS_SUCCESS, table->UninitializeModule(handle));
        EXPECT_EQ(MODULE_STATUS_SUCCESS, table->DestroyModule(handle));
        handle = nullptr;
    }

    static BusDouble::BusDoubleControl& control() { return BusDouble::RawBusPeer::control(); }

    // Sends a request and answers the reply's name and payload.
    std::pair<std::wstring, std::wstring> ask(const std::wstring& name, const std::wstring& payload = std::wstring())
    {
        const uint64_t index = m_nextReply++;
        EXPECT_EQ(MODULE_STATUS_SUCCESS, product.request(name, payload, 60000, index));
        BusDouble::RawBusPeer::Answer answer;
        EXPECT_TRUE(product.waitForAnswer(answer)) << TestSupport::narrow(name);
        EXPECT_EQ(index, answer.replyIndex);
        EXPECT_EQ(MODULE_STATUS_SUCCESS, answer.status);
        return {answer.reply.name, answer.reply.payload};
    }

    std::wstring newInstance() { return ask(L"Sentrel.Alert.GetId").second; }

    std::wstring show(const std::wstring& alertId, const std::wstring& instanceId,
                      const std::wstring& viewer = kViewer)
    {
        return ask(L"Sentrel.Alert.Show." + instanceId, showRequest(alertId, instanceId, viewer)).first;
    }

    std::wstring remove(const std::wstring& alertId, const std::wstring& instanceId)
    {
        return ask(L"Sentrel.Alert.Delete." + instanceId, showRequest(alertId, instanceId, kViewer)).first;
    }

    // The viewer's requests, "<name> <alert id>" each.
    std::vector<std::wstring> viewerRequests()
    {
        std::vector<std::wstring> seen;
        for (const ViewerDouble::Request& request : viewer.requests())
            seen.push_back(request.name + L" " + request.alertId);
        return seen;
    }

    size_t logLines(uint32_t level, const std::wstring& function, const std::wstring& textStart) const
    {
        const auto lines = log.lines();
        return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const TestSupport::LogLine& line) {
            return line.level == TestSupport::LogFile::levelName(level) && line.function == function &&
                   line.text.compare(0, textStart.size(), textStart) == 0;
        }));
    }

    const std::wstring moduleName = TestSupport::uniqueName(L"Sentrel");
    // The module's lines go to a folder named after the name the host gives it.
    ToolLogFolder log{L"Sentrel", moduleName, L""};
    WtsDouble::WtsDoubleControl wts;
    PluginDouble::Control plugin;
    TestSupport::ScratchFolder folder;
    SettingsPeer::SettingsServicePeer settings;
    ViewerDouble::Viewer viewer{kViewer};
    BusDouble::RawBusPeer product;
    HMODULE library = nullptr;
    const ModuleFunctions* table = nullptr;
    MODULE_HANDLE handle = nullptr;
    uint64_t m_nextReply = 1;
};

TEST_F(SentrelEndToEnd, AnAlertReachesTheViewerWithThePluginsContentAndTheNextFollowsItsDismissal)
{
    const std::wstring first = newInstance();
    const std::wstring second = newInstance();
    EXPECT_EQ(L"1", first);
    EXPECT_EQ(L"2", second);
    EXPECT_EQ(L"Sentrel.Alert.{E2E-A}.Queued.1", show(L"{E2E-A}", first));
    EXPECT_EQ(L"Sentrel.Alert.{E2E-B}.Queued.2", show(L"{E2E-B}", second));

    ASSERT_TRUE(viewer.waitForRequests(1));
    const ViewerDouble::Request shown = viewer.requests()[0];
    EXPECT_EQ(L"Sentrel.Viewer.EndToEndViewer.Show.1", shown.name);
    EXPECT_EQ(L"{E2E-A}", shown.alertId);
    EXPECT_NE(std::wstring::npos, shown.payload.find(L"shown by EndToEndViewer")) << TestSupport::narrow(shown.payload);
    EXPECT_FALSE(plugin.calls(L"ProcessAlert").empty());
    // One alert on screen at a time.
    EXPECT_EQ(1u, viewer.requests().size());
    EXPECT_EQ(L"1", ask(L"Sentrel.Queue.GetStatus").second);

    viewer.report(first, ViewerDouble::Outcome::Dismissed);
    ASSERT_TRUE(viewer.waitForRequests(2));
    EXPECT_EQ((std::vector<std::wstring>{L"Sentrel.Viewer.EndToEndViewer.Show.1 {E2E-A}",
                                         L"Sentrel.Viewer.EndToEndViewer.Show.2 {E2E-B}"}),
              viewerRequests());

    EXPECT_EQ(1u, logLines(ETWLogging::LOG_LEVEL_INFORMATION, L"Kest::AlertDispatcher::show",
                           L"Sentrel Alert Status Shown. Alert id: {E2E-A}, Instance id: 1 TimeTaken: "));
    EXPECT_EQ(1u, logLines(ETWLogging::LOG_LEVEL_INFORMATION, L"Kest::AlertDispatcher::show",
                           L"Sentrel Alert Status Shown. Alert id: {E2E-B}, Instance id: 2 TimeTaken: "));
}

TEST_F(SentrelEndToEnd, DeletedAlertsLeaveTheScreenAndTheQueue)
{
    for (const wchar_t* expected : {L"1", L"2", L"3"})
        EXPECT_EQ(expected, newInstance());
    EXPECT_EQ(L"Sentrel.Alert.{E2E-A}.Queued.1", show(L"{E2E-A}", L"1"));
    ASSERT_TRUE(viewer.waitForRequests(1));
    EXPECT_EQ(L"Sentrel.Alert.{E2E-B}.Queued.2", show(L"{E2E-B}", L"2"));

    // The queued one never reaches the viewer; the shown one is taken down
    // through it.
    EXPECT_EQ(L"Sentrel.Alert..Deleted.2", remove(L"{E2E-B}", L"2"));
    EXPECT_EQ(L"Sentrel.Alert..Deleted.1", remove(L"{E2E-A}", L"1"));
    EXPECT_EQ(L"Sentrel.Alert..NotFound.1", remove(L"{E2E-A}", L"1"));

    EXPECT_EQ(L"Sentrel.Alert.{E2E-C}.Queued.3", show(L"{E2E-C}", L"3"));
    ASSERT_TRUE(viewer.waitForRequests(3));
    EXPECT_EQ((std::vector<std::wstring>{L"Sentrel.Viewer.EndToEndViewer.Show.1 {E2E-A}",
                                         L"Sentrel.Viewer.EndToEndViewer.Delete.1 {E2E-A}",
                                         L"Sentrel.Viewer.EndToEndViewer.Show.3 {E2E-C}"}),
              viewerRequests());
}

TEST_F(SentrelEndToEnd, EndingTheServiceTakesTheAlertOnScreenDownWithoutWaitingForItsTimeOut)
{
    EXPECT_EQ(L"1", newInstance());
    EXPECT_EQ(L"Sentrel.Alert.{E2E-A}.Queued.1", show(L"{E2E-A}", L"1"));
    ASSERT_TRUE(viewer.waitForRequests(1));

    // The alert may stay on screen for 30 seconds and its outcome come 30
    // later; the service must not wait for either.
    const auto began = std::chrono::steady_clock::now();
    endModule();
    EXPECT_LT(std::chrono::steady_clock::now() - began, 20s);
    EXPECT_EQ((std::vector<std::wstring>{L"Sentrel.Viewer.EndToEndViewer.Show.1 {E2E-A}",
                                         L"Sentrel.Viewer.EndToEndViewer.Delete.1 {E2E-A}"}),
              viewerRequests());
}

TEST_F(SentrelEndToEnd, AnAlertNoRegisteredViewerCanShowFailsAndAsksForTheLogs)
{
    BusDouble::RawBusPeer waiter;
    ASSERT_NE(0u, waiter.subscribe(L"Sentrel.Alert.{E2E-F}.Failed.1"));
    BusDouble::RawBusPeer collector;
    ASSERT_NE(0u, collector.subscribe(L"sustainability.collect.logs"));

    EXPECT_EQ(L"1", newInstance());
    EXPECT_EQ(L"Sentrel.Alert.{E2E-F}.Queued.1", show(L"{E2E-F}", L"1", L"UnknownViewer"));

    BusDouble::RawBusPeer::Delivery failed;
    ASSERT_TRUE(waiter.waitForDelivery(failed));
    EXPECT_EQ(L"Sentrel.Alert.{E2E-F}.Failed.1", failed.name);
    BusDouble::RawBusPeer::Delivery collect;
    ASSERT_TRUE(collector.waitForDelivery(collect));
    EXPECT_EQ(L"Sentrel", collect.source);
    for (const wchar_t* part : {L"\"Problem\":\"SR_FailedToShowAlert\"", L"\"alert_guid\":\"{E2E-F}\"",
                                L"\"viewers\":\"UnknownViewer\"", L"\"error_code\":\"1\""})
        EXPECT_NE(std::wstring::npos, collect.payload.find(part)) << TestSupport::narrow(collect.payload);

    // The viewer that is registered is not asked in its place.
    EXPECT_TRUE(viewer.requests().empty());
    EXPECT_EQ(1u, logLines(ETWLogging::LOG_LEVEL_WARNING, L"Kest::AlertDispatcher::show",
                           L"Viewer UnknownViewer was not registered."));
    EXPECT_EQ(1u, logLines(ETWLogging::LOG_LEVEL_ERROR, L"Kest::AlertDispatcher::show",
                           L"Sentrel Alert Status Failed. Alert id: {E2E-F}, Instance id: 1. Preferred viewers list "
                           L"is UnknownViewer. PluginErrorCode: 0 ViewerErrorCode: 1"));
}

} // namespace
