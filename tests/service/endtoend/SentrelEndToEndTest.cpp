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
#include "WaitUntil.h"
#include "WtsDoubleControl.h"

#include "Logging/CLoggingIf.h"
#include "ModuleFunctions.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using TestSupport::jsonText;

const std::wstring kViewer = L"EndToEndViewer";
// Registered too; a test that uses it puts a viewer double of this name on the bus.
const std::wstring kSilentViewer = L"SilentViewer";
const std::wstring kProduct = L"EndToEndProduct";
const std::wstring kPluginFile = L"endtoendplugin.dll";
const uint32_t kSession = 3;

MODULE_STATUS managerCallback(void*, void*, void*, void*)
{
    return MODULE_STATUS_SUCCESS;
}

// An alert request as a product writes it; session 0 is whichever user is active.
// Titled by its alert id: alerts of one display are duplicates, and two alerts
// of a test may both still be queued when the second comes.
std::wstring showRequest(const std::wstring& alertId, const std::wstring& instanceId,
                         const std::vector<std::wstring>& viewers, uint32_t sessionId = kSession,
                         uint32_t timeout = 30)
{
    std::wstring preferred;
    for (const std::wstring& viewer : viewers)
        preferred += (preferred.empty() ? L"" : L",") + jsonText(viewer);
    return L"{\"id\":" + jsonText(alertId) + L",\"instanceId\":" + jsonText(instanceId) +
           L",\"priority\":\"P2\",\"product\":" + jsonText(kProduct) +
           L",\"source\":\"client\",\"forcePreferredViewer\":true,\"preferredViewer\":[" + preferred +
           L"],\"context\":{\"title\":" + jsonText(alertId) + L"},\"timeout\":" + std::to_wstring(timeout) +
           L",\"sessionId\":" + std::to_wstring(sessionId) + L"}";
}

class SentrelEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(log.ready());
        // Every request keeps its real time-out: the doubles answer each
        // one, and the first show (trust checks, the plugin, a new user
        // session) may take seconds on a loaded machine.
        control().reset();

        ASSERT_TRUE(wts.ready());
        // Logged on a day ago: the user session shows at once.
        wts.setActiveSession(kSession);
        wts.setLoggedOnSecondsAgo(kSession, 24 * 3600);

        plugin.content(L"shown by {viewer}");
        PluginDouble::Control::install(folder.path(), kPluginFile);
        settings.service().seed(L"Sentrel/Viewer/" + kViewer, L"{}");
        settings.service().seed(L"Sentrel/Viewer/" + kSilentViewer, L"{}");
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
        startModule();
    }

    // The host's first three steps.
    void startModule()
    {
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

    // Sends a request as a product does, with its 60 s, and answers the
    // reply's name and payload.
    std::pair<std::wstring, std::wstring> ask(const std::wstring& name, const std::wstring& payload = std::wstring())
    {
        const uint64_t index = m_nextReply++;
        EXPECT_EQ(MODULE_STATUS_SUCCESS, product.request(name, payload, 60000, index));
        BusDouble::RawBusPeer::Answer answer;
        // Past the request's own time-out, so that one shows as its status.
        EXPECT_TRUE(product.waitForAnswer(answer, 70s)) << TestSupport::narrow(name);
        EXPECT_EQ(index, answer.replyIndex);
        EXPECT_EQ(MODULE_STATUS_SUCCESS, answer.status);
        return {answer.reply.name, answer.reply.payload};
    }

    std::wstring newInstance() { return ask(L"Sentrel.Alert.GetId").second; }

    std::wstring show(const std::wstring& alertId, const std::wstring& instanceId,
                      const std::wstring& viewer = kViewer, uint32_t sessionId = kSession, uint32_t timeout = 30)
    {
        return showVia(alertId, instanceId, {viewer}, sessionId, timeout);
    }

    std::wstring showVia(const std::wstring& alertId, const std::wstring& instanceId,
                         const std::vector<std::wstring>& viewers, uint32_t sessionId = kSession,
                         uint32_t timeout = 30)
    {
        return ask(L"Sentrel.Alert.Show." + instanceId, showRequest(alertId, instanceId, viewers, sessionId, timeout))
            .first;
    }

    // The bus double called the module's subscribers of that name `count`
    // times, each call returned; false at the deadline.
    static bool waitForDelivered(const std::wstring& name, size_t count, std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            size_t delivered = 0;
            BusDouble::JournalEntry entry{};
            for (uint32_t i = 0; control().journalEntry(i, &entry); ++i) {
                if (entry.call == BusDouble::Call::DeliverMessage && name == entry.name)
                    ++delivered;
            }
            if (delivered >= count)
                return true;
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(5ms);
        }
    }

    std::wstring remove(const std::wstring& alertId, const std::wstring& instanceId)
    {
        return ask(L"Sentrel.Alert.Delete." + instanceId, showRequest(alertId, instanceId, {kViewer})).first;
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

    // The same, once there is one: the service may write a line after what the test saw of its work.
    size_t awaitedLogLines(uint32_t level, const std::wstring& function, const std::wstring& textStart) const
    {
        TestSupport::waitUntil([&] { return logLines(level, function, textStart) > 0; });
        return logLines(level, function, textStart);
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

    EXPECT_EQ(1u, awaitedLogLines(ETWLogging::LOG_LEVEL_INFORMATION, L"Kest::AlertDispatcher::show",
                                  L"Sentrel Alert Status Shown. Alert id: {E2E-A}, Instance id: 1 TimeTaken: "));
    EXPECT_EQ(1u, awaitedLogLines(ETWLogging::LOG_LEVEL_INFORMATION, L"Kest::AlertDispatcher::show",
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
    EXPECT_EQ(1u, awaitedLogLines(ETWLogging::LOG_LEVEL_WARNING, L"Kest::AlertDispatcher::show",
                                  L"Viewer UnknownViewer was not registered."));
    EXPECT_EQ(1u, awaitedLogLines(ETWLogging::LOG_LEVEL_ERROR, L"Kest::AlertDispatcher::show",
                                  L"Sentrel Alert Status Failed. Alert id: {E2E-F}, Instance id: 1. Preferred viewers "
                                  L"list is UnknownViewer. PluginErrorCode: 0 ViewerErrorCode: 1"));
}

TEST_F(SentrelEndToEnd, ACrashOfTheSessionThatShowsAnAlertEndsItAlsoWhenItWasForWhicheverUserIsActive)
{
    // Session 3 is the active one: it shows the alerts for session 0 too.
    for (const uint32_t requestedFor : {kSession, 0u}) {
        SCOPED_TRACE(requestedFor);
        const size_t before = viewer.requests().size();
        const std::wstring first = newInstance();
        const std::wstring second = newInstance();
        EXPECT_EQ(L"Sentrel.Alert.{E2E-A}.Queued." + first, show(L"{E2E-A}", first, kViewer, requestedFor));
        EXPECT_EQ(L"Sentrel.Alert.{E2E-B}.Queued." + second, show(L"{E2E-B}", second, kViewer, requestedFor));
        ASSERT_TRUE(viewer.waitForRequests(before + 1, 30s));

        // Without the crash the first would stay on screen for a minute.
        product.publish(L"Strova.UserSession.Crashed", L"Strova", L"{\"sessionId\":" + std::to_wstring(kSession) + L"}");
        ASSERT_TRUE(viewer.waitForRequests(before + 2, 30s)) << "the next alert is not shown";
        EXPECT_EQ(L"Sentrel.Viewer.EndToEndViewer.Show." + second, viewer.requests()[before + 1].name);
        viewer.report(second, ViewerDouble::Outcome::Dismissed);
    }
}

TEST_F(SentrelEndToEnd, AModuleThatCannotBeMadeIsReportedAtOnceAndTheNextOneWorks)
{
    endModule();
    // No bus connection for the parts the module makes.
    control().setGetHandleStatus(MODULE_STATUS_UNSUCCESSFUL);
    MODULE_HANDLE failed = reinterpret_cast<MODULE_HANDLE>(1);
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(MODULE_STATUS_UNKNOWN_EXCEPTION, table->NewModule(&failed, moduleName.c_str()));
    EXPECT_LT(std::chrono::steady_clock::now() - began, 10s);
    control().setGetHandleStatus(MODULE_STATUS_SUCCESS);

    startModule();
    EXPECT_EQ(L"1", newInstance());
    EXPECT_EQ(L"Sentrel.Alert.{E2E-A}.Queued.1", show(L"{E2E-A}", L"1"));
    EXPECT_TRUE(viewer.waitForRequests(1, 30s));
}

// A plugin entry that throws instead of answering, and what becomes of the
// alert it was called for.
using Throw = PluginDouble::Control::Throw;
struct PluginThrow {
    const char* name;
    const wchar_t* entry;
    Throw what;
    const wchar_t* loggedBy; // the function of the plugin host that called it
    // True: the failed call was the processing one, so the alert goes on
    // unprocessed and is shown; false: no content, so no viewer shows it.
    bool shown;
};
const PluginThrow kPluginThrows[] = {
    {"ProcessAlertStd", L"ProcessAlert", Throw::Standard, L"processAlert", true},
    {"ProcessAlertInt", L"ProcessAlert", Throw::NonStandard, L"processAlert", true},
    {"FreeProcessAlertResultStd", L"FreeProcessAlertResult", Throw::Standard, L"processAlert", true},
    {"FreeProcessAlertResultInt", L"FreeProcessAlertResult", Throw::NonStandard, L"processAlert", true},
    {"GetAlertContentStd", L"GetAlertContent", Throw::Standard, L"getAlertContent", false},
    {"GetAlertContentInt", L"GetAlertContent", Throw::NonStandard, L"getAlertContent", false},
    {"FreeAlertContentStd", L"FreeAlertContent", Throw::Standard, L"getAlertContent", false},
    {"FreeAlertContentInt", L"FreeAlertContent", Throw::NonStandard, L"getAlertContent", false},
    // Thrown while the plugin is loaded: neither call has a plugin then.
    {"CreateObjectStd", L"CreateObject", Throw::Standard, L"createInstance", false},
    {"CreatePluginInstanceInt", L"CreatePluginInstance", Throw::NonStandard, L"createInstance", false},
};

// Names the case in test listings, which would show its bytes otherwise.
void PrintTo(const PluginThrow& way, std::ostream* out)
{
    *out << way.name;
}

class SentrelPluginThrows : public SentrelEndToEnd, public ::testing::WithParamInterface<PluginThrow> {};

TEST_P(SentrelPluginThrows, TheThrowingAlertGetsItsAnswerAndTheSessionShowsTheNextOne)
{
    const PluginThrow& way = GetParam();
    BusDouble::RawBusPeer waiter;
    ASSERT_NE(0u, waiter.subscribe(L"Sentrel.Alert.{E2E-T}.Failed.1"));
    plugin.throwFrom(way.entry, way.what);

    EXPECT_EQ(L"1", newInstance());
    EXPECT_EQ(L"Sentrel.Alert.{E2E-T}.Queued.1", show(L"{E2E-T}", L"1"));
    EXPECT_TRUE(TestSupport::waitUntil([&] { return !plugin.calls(L"throw").empty(); })) << "the plugin did not throw";
    const std::wstring host = L"Kest::AlertPluginLib::" + std::wstring(way.loggedBy);
    const std::wstring threw = L"Call of " + std::wstring(way.entry) + L" for product " + kProduct + L" threw";
    EXPECT_LE(1u, awaitedLogLines(ETWLogging::LOG_LEVEL_ERROR, host, threw))
        << "the failed call is logged where the plugin was called";
    if (way.shown) {
        EXPECT_EQ(1u, awaitedLogLines(ETWLogging::LOG_LEVEL_WARNING, L"Kest::AlertDispatcher::process",
                                      L"Failed to process the alert. Continuing with unprocessed input data."));
        ASSERT_TRUE(viewer.waitForRequests(1)) << "the unprocessed alert is not shown";
        EXPECT_EQ(L"Sentrel.Viewer.EndToEndViewer.Show.1", viewer.requests()[0].name);
        plugin.throwFrom(L"");
        viewer.report(L"1", ViewerDouble::Outcome::Dismissed);
    } else {
        BusDouble::RawBusPeer::Delivery failed;
        ASSERT_TRUE(waiter.waitForDelivery(failed)) << "the alert got no outcome";
        EXPECT_EQ(1u, awaitedLogLines(ETWLogging::LOG_LEVEL_ERROR, L"Kest::AlertDispatcher::show",
                                      L"Sentrel Alert Status Failed. Alert id: {E2E-T}, Instance id: 1."));
        EXPECT_TRUE(viewer.requests().empty());
        plugin.throwFrom(L"");
    }

    // The session's thread lives on.
    EXPECT_EQ(L"2", newInstance());
    EXPECT_EQ(L"Sentrel.Alert.{E2E-N}.Queued.2", show(L"{E2E-N}", L"2"));
    const size_t before = way.shown ? 1 : 0;
    ASSERT_TRUE(viewer.waitForRequests(before + 1)) << "the next alert is not shown";
    EXPECT_EQ(L"Sentrel.Viewer.EndToEndViewer.Show.2", viewer.requests()[before].name);
    EXPECT_NE(std::wstring::npos, viewer.requests()[before].payload.find(L"shown by EndToEndViewer"));
}

INSTANTIATE_TEST_SUITE_P(EveryEntry, SentrelPluginThrows, ::testing::ValuesIn(kPluginThrows),
                         [](const ::testing::TestParamInfo<PluginThrow>& info) { return info.param.name; });

// The ways a viewer may answer the Delete that takes an alert down.
struct DeleteAnswer {
    const char* name;
    ViewerDouble::Client client;
    ViewerDouble::Answer answer;
    ViewerDouble::Outcome then;
};
const DeleteAnswer kDeleteAnswers[] = {
    {"confirms and reports", ViewerDouble::Client::Raw, ViewerDouble::Answer::Dismissed,
     ViewerDouble::Outcome::Dismissed},
    {"confirms by reply only", ViewerDouble::Client::Raw, ViewerDouble::Answer::Dismissed,
     ViewerDouble::Outcome::None},
    {"confirms through the SDK client", ViewerDouble::Client::Sdk, ViewerDouble::Answer::Dismissed,
     ViewerDouble::Outcome::None},
    {"never answers", ViewerDouble::Client::Raw, ViewerDouble::Answer::Silent, ViewerDouble::Outcome::None},
};
// A log-off or the service's end waits at most for the viewer's Delete
// request: its 90 s and the reply's second of grace, which a silent viewer
// double shortens to a hundredth; the rest allows for a loaded machine.
const auto kEndBound = std::chrono::milliseconds(91000 / 100) + 1s + 10s;

class SentrelEnding : public SentrelEndToEnd {
protected:
    // A module that cannot end is abandoned, not waited for.
    void TearDown() override
    {
        if (handle) {
            EXPECT_TRUE(endModuleWithin(60s)) << "the module's end hangs";
        }
    }

    // Shows an alert that may stay on screen for an hour through a viewer
    // that answers its Delete that way, and answers the viewer.
    ViewerDouble::Viewer& showLongAlert(const DeleteAnswer& way, const std::wstring& instance)
    {
        sdkViewer.reset();
        viewer.answerShow(ViewerDouble::Answer::Shown);
        viewer.answerDelete(way.answer, way.then);
        ViewerDouble::Viewer* answering = &viewer;
        if (way.client == ViewerDouble::Client::Sdk) {
            // The raw viewer of the same name only listens.
            viewer.answerShow(ViewerDouble::Answer::Silent);
            viewer.answerDelete(ViewerDouble::Answer::Silent);
            sdkViewer.reset(new ViewerDouble::Viewer(kViewer, ViewerDouble::Client::Sdk));
            sdkViewer->answerDelete(way.answer, way.then);
            answering = sdkViewer.get();
        }
        const size_t before = viewer.requests().size();
        EXPECT_EQ(L"Sentrel.Alert.{E2E-L}.Queued." + instance, show(L"{E2E-L}", instance, kViewer, kSession, 3600));
        EXPECT_TRUE(viewer.waitForRequests(before + 1, 30s));
        return *answering;
    }

    // Among the requests from index `from` on.
    static bool sawDelete(ViewerDouble::Viewer& answering, const std::wstring& instance, size_t from)
    {
        const auto requests = answering.requests();
        return std::any_of(requests.begin() + static_cast<std::ptrdiff_t>(std::min(from, requests.size())),
                           requests.end(), [&](const ViewerDouble::Request& request) {
                               return request.name == L"Sentrel.Viewer.EndToEndViewer.Delete." + instance;
                           });
    }

    // The host's last three steps on a thread of their own; false when they
    // have not returned by the deadline (the module is then abandoned).
    bool endModuleWithin(std::chrono::milliseconds timeout)
    {
        struct Done {
            std::mutex lock;
            std::condition_variable changed;
            bool ended = false;
        };
        auto done = std::make_shared<Done>();
        const ModuleFunctions* functions = table;
        MODULE_HANDLE ending = handle;
        handle = nullptr;
        std::thread([done, functions, ending] {
            functions->StopModule(ending);
            functions->UninitializeModule(ending);
            functions->DestroyModule(ending);
            std::lock_guard<std::mutex> guard(done->lock);
            done->ended = true;
            done->changed.notify_all();
        }).detach();
        std::unique_lock<std::mutex> guard(done->lock);
        return done->changed.wait_for(guard, timeout, [&] { return done->ended; });
    }

    // For every way of answering the Delete: shows a long alert, then `end`
    // takes it down within the bound (false: it hangs); `after` follows.
    void expectEveryEndWithinBound(const std::function<bool()>& end, const std::function<void()>& after)
    {
        for (const DeleteAnswer& way : kDeleteAnswers) {
            SCOPED_TRACE(way.name);
            const std::wstring instance = newInstance();
            ViewerDouble::Viewer& answering = showLongAlert(way, instance);
            const size_t shown = answering.requests().size();

            const auto began = std::chrono::steady_clock::now();
            ASSERT_TRUE(end()) << "the end hangs";
            EXPECT_LT(std::chrono::steady_clock::now() - began, kEndBound);
            EXPECT_TRUE(sawDelete(answering, instance, shown));
            after();
        }
    }

    // The system monitor's log-off notice for the test's session; false
    // when the service's handler has not returned by the deadline.
    bool logOff()
    {
        product.publish(L"SystemMonitor.UserSession.Logoff", L"SystemMonitor",
                        L"{\"sessionId\":" + std::to_wstring(kSession) + L"}");
        return waitForDelivered(L"SystemMonitor.UserSession.Logoff", ++m_logoffs, 60s);
    }

    // Behind a viewer that never answers a Show request each alert tried
    // costs the whole Show wait: for one alert and for several queued, `end`
    // finishes within its own bound (false: it hangs) having let at most the
    // Show request in flight reach the viewer; `after` follows.
    void expectEndBehindSilentViewer(const std::function<bool()>& end, const std::function<void()>& after)
    {
        viewer.answerShow(ViewerDouble::Answer::Silent);
        for (const size_t queued : {size_t(1), size_t(10)}) {
            SCOPED_TRACE(queued);
            const size_t before = viewer.requests().size();
            // Queued while another user is active: none is tried before all are in.
            wts.setActiveSession(kSession + 1);
            for (size_t i = 0; i < queued; ++i) {
                const std::wstring instance = newInstance();
                const std::wstring alertId = L"{E2E-Q" + std::to_wstring(i) + L"}";
                EXPECT_EQ(L"Sentrel.Alert." + alertId + L".Queued." + instance, show(alertId, instance));
            }
            wts.setActiveSession(kSession);
            product.publish(L"SystemMonitor.UserSession.Logon", L"SystemMonitor",
                            L"{\"sessionId\":" + std::to_wstring(kSession) + L"}");
            ASSERT_TRUE(viewer.waitForRequests(before + 1, 30s));

            const size_t atEnd = viewer.requests().size();
            ASSERT_TRUE(end()) << "the end hangs";
            // The request in flight may reach the viewer just after the end
            // began; no other alert is tried.
            EXPECT_LE(viewer.requests().size(), atEnd + 1) << "Show requests sent after the end began";
            after();
        }
    }

    std::unique_ptr<ViewerDouble::Viewer> sdkViewer;
    size_t m_logoffs = 0;
    std::vector<std::wstring> m_failed;
};

TEST_F(SentrelEnding, ALogOffTakesTheAlertOnScreenDownWithoutWaitingForItsTimeOut)
{
    expectEveryEndWithinBound([&] { return logOff(); },
                              [&] { EXPECT_EQ(L"0", ask(L"Sentrel.Queue.GetStatus").second) << "the session is gone"; });
}

TEST_F(SentrelEnding, TheServicesEndTakesTheAlertOnScreenDownWithoutWaitingForItsTimeOut)
{
    expectEveryEndWithinBound([&] { return endModuleWithin(60s); }, [&] { startModule(); });
}

TEST_F(SentrelEnding, ALogOffBehindAViewerSilentOnShowTriesNoFurtherAlert)
{
    expectEndBehindSilentViewer([&] { return logOff(); }, [] {});
}

TEST_F(SentrelEnding, TheServicesEndBehindAViewerSilentOnShowTriesNoFurtherAlert)
{
    expectEndBehindSilentViewer([&] { return endModuleWithin(60s); }, [&] { startModule(); });
}

// An alert whose first viewer never answers its Show and whose second one
// works, and the end of its session while the first Show waits.
class SentrelLogOffMidShow : public SentrelEnding {
protected:
    void SetUp() override
    {
        SentrelEnding::SetUp();
        viewer.answerShow(ViewerDouble::Answer::Shown, ViewerDouble::Outcome::Dismissed);
        silent.answerShow(ViewerDouble::Answer::Silent);
        // 9.1 s instead of the silent double's 0.91 s: the log-off surely
        // comes while the Show waits.
        control().setTimeScaleFor((L"Sentrel.Viewer." + kSilentViewer + L".Show.").c_str(), 0.1);
    }

    // Shows the alert in the session that is active now and, once its first
    // Show waits, logs that session off; returns when the service has taken
    // the session out, the log-off handler still waiting for its thread.
    void logOffWhileTheFirstShowWaits(const std::wstring& alertId, const std::wstring& instance, uint32_t sessionId)
    {
        EXPECT_EQ(L"Sentrel.Alert." + alertId + L".Queued." + instance,
                  showVia(alertId, instance, {kSilentViewer, kViewer}, sessionId));
        ASSERT_TRUE(silent.waitForRequests(1, 30s));
        product.publish(L"SystemMonitor.UserSession.Logoff", L"SystemMonitor",
                        L"{\"sessionId\":" + std::to_wstring(kSession) + L"}");
        ++m_logoffs;
        ASSERT_EQ(1u, awaitedLogLines(ETWLogging::LOG_LEVEL_INFORMATION, L"Kest::SentrelImpl::handleSessionLogoff",
                                      L"Clearing alert session after logout. Session id: 3."));
        // Further Show requests to the first viewer fail at once.
        silent.answerShow(ViewerDouble::Answer::Failed);
    }

    size_t showsOf(const std::wstring& instance)
    {
        const auto requests = viewer.requests();
        return static_cast<size_t>(std::count_if(requests.begin(), requests.end(), [&](const ViewerDouble::Request& r) {
            return r.name == L"Sentrel.Viewer.EndToEndViewer.Show." + instance;
        }));
    }

    // Where the first line of that function and start stands in the log; npos when none.
    size_t lineIndex(const std::wstring& function, const std::wstring& textStart) const
    {
        const auto lines = log.lines();
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].function == function && lines[i].text.compare(0, textStart.size(), textStart) == 0)
                return i;
        }
        return std::wstring::npos;
    }

    size_t failedToShowLines() const
    {
        return logLines(ETWLogging::LOG_LEVEL_ERROR, L"Kest::AlertUserSession::dispatchThread",
                        L"Failed to show alert.");
    }

    ViewerDouble::Viewer silent{kSilentViewer};
};

TEST_F(SentrelLogOffMidShow, AGlobalAlertGoesBackToTheGlobalQueueAndTheNextActiveSessionShowsIt)
{
    BusDouble::RawBusPeer waiter;
    ASSERT_NE(0u, waiter.subscribe(L"Sentrel.Alert.{E2E-G}.Failed.1"));
    EXPECT_EQ(L"1", newInstance());
    EXPECT_EQ(L"2", newInstance());
    logOffWhileTheFirstShowWaits(L"{E2E-G}", L"1", 0);

    // Another user logs on; a request for that session makes it.
    const uint32_t next = kSession + 1;
    wts.setLoggedOnSecondsAgo(next, 24 * 3600);
    wts.setActiveSession(next);
    EXPECT_EQ(L"Sentrel.Alert.{E2E-U}.Queued.2", show(L"{E2E-U}", L"2", kViewer, next));
    ASSERT_TRUE(waitForDelivered(L"SystemMonitor.UserSession.Logoff", m_logoffs, 60s));

    EXPECT_TRUE(TestSupport::waitUntil([&] { return showsOf(L"1") > 0; }, 60s))
        << "the global alert the ended session had picked was never shown";
    EXPECT_EQ(1u, showsOf(L"1"));
    EXPECT_EQ(1u, awaitedLogLines(ETWLogging::LOG_LEVEL_INFORMATION, L"Kest::AlertUserSession::dispatchThread",
                                  L"Alert {E2E-G}, instance 1 was not shown before session 3 ended. Putting it back "
                                  L"in the global queue."));
    EXPECT_EQ(0u, failedToShowLines());
    EXPECT_EQ(0u, waiter.deliveryCount()) << "the global alert also got a failed outcome";
}

TEST_F(SentrelLogOffMidShow, AUserAlertIsReleasedAsTheQueuedOnesAndTheSessionMadeAgainWaitsForTheOldOne)
{
    BusDouble::RawBusPeer waiter;
    ASSERT_NE(0u, waiter.subscribe(L"Sentrel.Alert.{E2E-A}.Failed.1"));
    EXPECT_EQ(L"1", newInstance());
    EXPECT_EQ(L"2", newInstance());
    logOffWhileTheFirstShowWaits(L"{E2E-A}", L"1", kSession);

    // The same user at once again: a new session for the same id, which
    // shows nothing while the old one still ends.
    EXPECT_EQ(L"Sentrel.Alert.{E2E-B}.Queued.2", show(L"{E2E-B}", L"2"));
    ASSERT_TRUE(waitForDelivered(L"SystemMonitor.UserSession.Logoff", m_logoffs, 60s));
    ASSERT_TRUE(viewer.waitForRequests(1, 60s)) << "the session made again shows nothing";
    EXPECT_EQ(L"Sentrel.Viewer.EndToEndViewer.Show.2", viewer.requests()[0].name);

    const std::wstring released = L"Alert {E2E-A}, instance 1 was not shown before session 3 ended. Releasing it "
                                  L"with the alerts still queued, neither shown nor answered.";
    EXPECT_EQ(1u, awaitedLogLines(ETWLogging::LOG_LEVEL_INFORMATION, L"Kest::AlertUserSession::dispatchThread",
                                  released));
    const size_t shown = [&] {
        TestSupport::waitUntil([&] {
            return lineIndex(L"Kest::AlertDispatcher::show", L"Sentrel Alert Status Shown. Alert id: {E2E-B}") !=
                   std::wstring::npos;
        });
        return lineIndex(L"Kest::AlertDispatcher::show", L"Sentrel Alert Status Shown. Alert id: {E2E-B}");
    }();
    ASSERT_NE(std::wstring::npos, shown);
    EXPECT_LT(lineIndex(L"Kest::AlertUserSession::dispatchThread", released), shown)
        << "the new session showed an alert while the old one still tried its own";
    EXPECT_EQ(0u, showsOf(L"1")) << "the ending session tried a further viewer";
    EXPECT_EQ(0u, failedToShowLines());
    EXPECT_EQ(0u, waiter.deliveryCount()) << "the released alert was answered";
}

TEST_F(SentrelEnding, AStormOfLogOffsLosesNoGlobalAlert)
{
    viewer.answerShow(ViewerDouble::Answer::Shown, ViewerDouble::Outcome::Dismissed);
    ViewerDouble::Viewer silent{kSilentViewer};
    silent.answerShow(ViewerDouble::Answer::Silent);
    BusDouble::RawBusPeer failures;
    ASSERT_NE(0u, failures.subscribeFilter(L"Sentrel\\.Alert\\..*\\.Failed\\..*"));

    // Now and then one whose first viewer holds the session in its Show
    // until the log-off comes.
    const size_t alerts = 24;
    std::vector<std::wstring> instances;
    for (size_t i = 0; i < alerts; ++i) {
        const std::wstring instance = newInstance();
        const std::wstring alertId = L"{E2E-S" + std::to_wstring(i) + L"}";
        const std::vector<std::wstring> viewers =
            i % 6 == 0 ? std::vector<std::wstring>{kSilentViewer, kViewer} : std::vector<std::wstring>{kViewer};
        EXPECT_EQ(L"Sentrel.Alert." + alertId + L".Queued." + instance, showVia(alertId, instance, viewers, 0));
        instances.push_back(instance);
        product.publish(L"SystemMonitor.UserSession.Logoff", L"SystemMonitor",
                        L"{\"sessionId\":" + std::to_wstring(kSession) + L"}");
        ++m_logoffs;
    }
    ASSERT_TRUE(waitForDelivered(L"SystemMonitor.UserSession.Logoff", m_logoffs, 60s));
    // The user comes back: the last session shows whatever is left.
    const std::wstring last = newInstance();
    EXPECT_EQ(L"Sentrel.Alert.{E2E-Z}.Queued." + last, show(L"{E2E-Z}", last));

    std::map<std::wstring, size_t> ends;
    const auto count = [&] {
        ends.clear();
        for (const ViewerDouble::Request& request : viewer.requests()) {
            if (request.show)
                ++ends[request.instanceId];
        }
        BusDouble::RawBusPeer::Delivery failed;
        while (failures.waitForDelivery(failed, 0ms))
            m_failed.push_back(failed.name.substr(failed.name.rfind(L'.') + 1));
        for (const std::wstring& instance : m_failed)
            ++ends[instance];
        return std::all_of(instances.begin(), instances.end(), [&](const std::wstring& i) { return ends[i] > 0; });
    };
    EXPECT_TRUE(TestSupport::waitUntil(count, 60s)) << "a global alert got neither a Show nor an outcome";
    count();
    for (const std::wstring& instance : instances)
        EXPECT_EQ(1u, ends[instance]) << "instance " << TestSupport::narrow(instance);
}

TEST_F(SentrelEnding, TheServicesEndTakesDownTheAlertsOfAllSessionsAtOnce)
{
    viewer.answerShow(ViewerDouble::Answer::Shown);
    viewer.answerDelete(ViewerDouble::Answer::Silent);
    // 9.1 s for each Delete: the second session's Delete surely starts
    // within the first one's.
    control().setTimeScaleFor(L"Sentrel.Viewer.EndToEndViewer.Delete.", 0.1);
    const uint32_t sessions[] = {kSession, kSession + 1};
    std::vector<std::wstring> instances;
    for (const uint32_t session : sessions) {
        wts.setLoggedOnSecondsAgo(session, 24 * 3600);
        wts.setActiveSession(session);
        const std::wstring instance = newInstance();
        const std::wstring alertId = L"{E2E-L" + std::to_wstring(session) + L"}";
        EXPECT_EQ(L"Sentrel.Alert." + alertId + L".Queued." + instance, show(alertId, instance, kViewer, session, 3600));
        instances.push_back(instance);
        ASSERT_TRUE(viewer.waitForRequests(instances.size(), 30s));
    }

    ASSERT_TRUE(endModuleWithin(60s)) << "the end hangs";
    // In the bus's own order: each Delete request, and the first of their
    // time-outs.
    std::map<std::pair<uint64_t, uint64_t>, std::wstring> deletes;
    std::map<std::wstring, uint32_t> requestedAt;
    uint32_t firstTimeOut = UINT32_MAX;
    BusDouble::JournalEntry entry{};
    for (uint32_t i = 0; control().journalEntry(i, &entry); ++i) {
        const std::wstring name = entry.name;
        const bool request = entry.call == BusDouble::Call::Request || entry.call == BusDouble::Call::RequestEx;
        if (request && name.rfind(L"Sentrel.Viewer.EndToEndViewer.Delete.", 0) == 0) {
            deletes[{entry.connection, entry.replyIndex}] = name;
            requestedAt.emplace(name.substr(name.rfind(L'.') + 1), i);
        }
        if (entry.call == BusDouble::Call::DeliverReply && entry.replyStatus == MODULE_STATUS_TIMEOUT &&
            deletes.count({entry.connection, entry.replyIndex}) != 0 && firstTimeOut == UINT32_MAX)
            firstTimeOut = i;
    }
    for (const std::wstring& instance : instances) {
        ASSERT_EQ(1u, requestedAt.count(instance)) << "no Delete for instance " << TestSupport::narrow(instance);
        EXPECT_LT(requestedAt[instance], firstTimeOut)
            << "the Delete of instance " << TestSupport::narrow(instance) << " waited for another one's bound";
    }
}

} // namespace
