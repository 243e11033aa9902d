#include "ShowingTestSupport.h"
#include "TestNames.h"
#include "ViewerDouble.h"
#include "WaitUntil.h"

#include "dispatch/AlertDispatcher.h"
#include "message/MessageBusClient.h"
#include "plugin/PluginRegistrar.h"
#include "viewer/AlertViewer.h"
#include "viewer/ViewerRegistrar.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>

namespace {

using Kest::Alert;
using Kest::AlertDispatcher;
using Kest::AlertInfo;
using ShowingTest::makeInfo;
using ShowingTest::ShowingFixture;
using ViewerDouble::Answer;
using ViewerDouble::Outcome;
using namespace std::chrono_literals;

const wchar_t kSource[] = L"AlertDispatcher";
const wchar_t kProcess[] = L"Kest::AlertDispatcher::process";
const wchar_t kShow[] = L"Kest::AlertDispatcher::show";
const wchar_t kWait[] = L"Kest::AlertDispatcher::wait";
// An alert second passes in a tenth of a second: a dismissal's 30 s take 3 s.
const double kAlertTimeScale = 0.1;

// The registered viewers are the ones a test adds; each gets a proxy on the
// bus double, as the real registrar would make.
class ViewerTable : public Kest::ViewerRegistrar {
public:
    void add(const std::wstring& name) { add(std::make_shared<Kest::AlertViewer>(name)); }
    void add(std::shared_ptr<Kest::AlertViewer> viewer) { m_table[viewer->getName()] = std::move(viewer); }

    std::shared_ptr<Kest::AlertViewer> getViewer(const std::wstring& viewerId) override
    {
        m_lookups.push_back(viewerId);
        const auto found = m_table.find(viewerId);
        return found == m_table.end() ? nullptr : found->second;
    }

    const std::vector<std::wstring>& lookups() const { return m_lookups; }

private:
    std::map<std::wstring, std::shared_ptr<Kest::AlertViewer>> m_table;
    std::vector<std::wstring> m_lookups;
};

// A product's plugin as a test scripts it: one answer to processing, and
// per viewer a status and content ("content for " + viewer unless set).
class ScriptedPlugin : public Kest::PluginRegistrar {
public:
    struct Processing {
        MODULE_STATUS status = MODULE_STATUS_SUCCESS;
        std::wstring output;
        uint32_t suppress = 0;
        std::wstring extra;
    };
    struct ContentCall {
        std::wstring product;
        std::wstring alertJson;
        std::wstring viewer;
    };

    Processing processing;
    std::map<std::wstring, MODULE_STATUS> contentStatus;
    // Runs before the content for a viewer is given, on the showing thread.
    std::function<void(const std::wstring& viewer)> beforeContent;
    std::vector<std::wstring> processed;  // the JSON each processing call was given
    std::vector<ContentCall> contentCalls;

    MODULE_STATUS processAlert(const std::wstring&, const std::wstring& alertJson, std::wstring& outJson,
                               uint32_t* suppress, std::wstring& extra) override
    {
        processed.push_back(alertJson);
        outJson = processing.output;
        *suppress = processing.suppress;
        extra = processing.extra;
        return processing.status;
    }

    MODULE_STATUS getAlertContent(const std::wstring& productId, const std::wstring& alertJson,
                                  const std::wstring& viewerName, std::wstring& content) override
    {
        contentCalls.push_back({productId, alertJson, viewerName});
        if (beforeContent)
            beforeContent(viewerName);
        const auto status = contentStatus.find(viewerName);
        if (status != contentStatus.end() && status->second != MODULE_STATUS_SUCCESS)
            return status->second;
        content = L"content for " + viewerName;
        return MODULE_STATUS_SUCCESS;
    }
};

// Records the seconds each wait of an alert asks for and lets it last as set.
class RecordingTimeScale : public Kest::AlertTimeScale {
public:
    explicit RecordingTimeScale(std::chrono::nanoseconds lasts = 50ms) : m_lasts(lasts) {}

    std::chrono::nanoseconds toWait(int64_t seconds) const override
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_asked.push_back(seconds);
        }
        m_changed.notify_all();
        return m_lasts;
    }
    std::vector<int64_t> asked() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_asked;
    }
    // False when no wait began in time.
    bool waitForAsk() const
    {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, TestSupport::kGenerousWait, [this] { return !m_asked.empty(); });
    }

private:
    const std::chrono::nanoseconds m_lasts;
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    mutable std::vector<int64_t> m_asked;
};

// While it lives the "default" update looks running to the update manager's helper.
class RunningUpdate {
public:
    RunningUpdate()
        : m_event(CreateEventW(nullptr, TRUE, FALSE, L"Global\\{834C46D9-6762-4FF9-8279-2C04C8B1162C}default"))
    {
    }
    ~RunningUpdate()
    {
        if (m_event)
            CloseHandle(m_event);
    }
    RunningUpdate(const RunningUpdate&) = delete;
    RunningUpdate& operator=(const RunningUpdate&) = delete;
    bool ok() const { return m_event != nullptr; }

private:
    HANDLE m_event;
};

// Every expected dimension is in the event, with that value.
void expectDimensions(const ShowingTest::Record& event, const ShowingTest::Record& expected)
{
    for (const auto& dimension : expected) {
        const std::string name(dimension.first.begin(), dimension.first.end());
        const auto found = event.find(dimension.first);
        ASSERT_NE(event.end(), found) << name;
        EXPECT_EQ(dimension.second, found->second) << name;
    }
}

class DispatcherTest : public ShowingFixture {
protected:
    std::shared_ptr<Alert> makeAlert(const std::wstring& alertId, const std::wstring& instanceId,
                                     const std::vector<std::wstring>& preferred,
                                     std::shared_ptr<Kest::AlertTimeScale> scale = nullptr)
    {
        AlertInfo info = makeInfo(alertId, instanceId);
        info.preferredViewer = preferred;
        return std::make_shared<Alert>(std::move(info), nullptr, scale ? scale : timeScale);
    }

    bool logged(uint32_t level, const wchar_t* function, const std::wstring& text) const
    {
        return !log.find({level, kSource, function, text}).empty();
    }

    // The only event of that id; an empty record (and a failure) otherwise.
    ShowingTest::Record onlyEvent(const std::wstring& id) const
    {
        const auto found = events(id);
        EXPECT_EQ(1u, found.size()) << "events " << std::string(id.begin(), id.end());
        return found.size() == 1 ? found[0] : ShowingTest::Record();
    }

    // A viewer on the bus, registered under its name.
    ViewerDouble::Viewer& registerViewer(const std::wstring& name,
                                         ViewerDouble::Client client = ViewerDouble::Client::Raw)
    {
        doubles.emplace_back(new ViewerDouble::Viewer(name, client));
        viewers->add(name);
        return *doubles.back();
    }

    std::shared_ptr<Kest::AlertTimeScale> timeScale = std::make_shared<Kest::AlertTimeScale>(kAlertTimeScale);
    std::shared_ptr<ViewerTable> viewers = std::make_shared<ViewerTable>();
    std::vector<std::unique_ptr<ViewerDouble::Viewer>> doubles;
    std::shared_ptr<ScriptedPlugin> plugin = std::make_shared<ScriptedPlugin>();
    // Made last, gone first: its destructor still talks to the viewers.
    std::unique_ptr<AlertDispatcher> dispatcher{new AlertDispatcher(viewers, plugin)};
};

// --- processing ---------------------------------------------------------

TEST_F(DispatcherTest, ASuppressFlagOfExactlyOneSuppressesWhateverTheStatus)
{
    auto alert = makeAlert(L"{A}", L"1", {L"v1"});
    const std::wstring input = AlertInfo::toJson(alert->getInfo());

    plugin->processing = {MODULE_STATUS_UNSUCCESSFUL, L"", 1, L"why not"};
    EXPECT_FALSE(dispatcher->process(alert));
    ASSERT_EQ(1u, plugin->processed.size());
    EXPECT_EQ(input, plugin->processed[0]);
    EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_INFORMATION, kProcess,
                       L"Sentrel Alert Status Suppressed. Alert id: {A}, Instance id: 1"));
    auto event = onlyEvent(L"Sentrel.Alert.Suppressed");
    expectDimensions(event, {{L"Hit.GUID", L"{A}"}, {L"Hit.Label.1", L"prod"}, {L"Hit.Label.2", L"why not"}});

    // Any other flag lets the alert on, rewritten by the plugin's output.
    AlertInfo rewritten = makeInfo(L"{A}", L"1");
    rewritten.priority = 1;
    rewritten.preferredViewer = {L"v2"};
    plugin->processing = {MODULE_STATUS_SUCCESS, AlertInfo::toJson(rewritten), 2, L""};
    EXPECT_TRUE(dispatcher->process(alert));
    EXPECT_EQ(1, alert->getInfo().priority);
    EXPECT_EQ(std::vector<std::wstring>{L"v2"}, alert->getInfo().preferredViewer);
    EXPECT_EQ(1u, events(L"Sentrel.Alert.Suppressed").size());
    EXPECT_TRUE(events(L"Sentrel.Failed.PluginProcess").empty());
}

TEST_F(DispatcherTest, AFailedOrEmptyProcessingLetsTheUnprocessedAlertOn)
{
    AlertInfo other = makeInfo(L"{OTHER}", L"9");
    const struct {
        MODULE_STATUS status;
        std::wstring output;
        bool updateRunning;
        const wchar_t* result;
    } cases[] = {
        {MODULE_STATUS_SUCCESS, L"", false, L"0"},
        // The output of a plugin that reports failure is not taken.
        {MODULE_STATUS_BUFFER_TOO_SMALL, AlertInfo::toJson(other), true, L"2147483651"},
    };
    size_t failures = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        auto alert = makeAlert(L"{A}", L"1", {L"v1", L"v2"});
        const std::wstring before = AlertInfo::toJson(alert->getInfo());
        plugin->processing = {c.status, c.output, 0, L""};
        std::unique_ptr<RunningUpdate> update;
        if (c.updateRunning) {
            update.reset(new RunningUpdate);
            ASSERT_TRUE(update->ok());
        }

        EXPECT_TRUE(dispatcher->process(alert));
        EXPECT_EQ(before, AlertInfo::toJson(alert->getInfo()));
        EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_WARNING, kProcess,
                           L"Failed to process the alert. Continuing with unprocessed input data. Alert id: {A}, "
                           L"Instance id: 1"));
        const auto found = events(L"Sentrel.Failed.PluginProcess");
        ASSERT_EQ(++failures, found.size());
        auto event = found.back();
        expectDimensions(event, {{L"Hit.GUID", L"{A}"}, {L"Event.Label", L"prod"}, {L"Hit.Result", c.result},
                                 {L"Hit.Label.1", L"NoViewer"}, {L"Hit.Label.2", L"v1,v2"},
                                 {L"Hit.Label.3", c.updateRunning ? L"1" : L"0"}});
    }
}

TEST_F(DispatcherTest, UnreadablePluginOutputStopsTheAlert)
{
    const struct {
        const wchar_t* output;
        const wchar_t* parsedId;
        const wchar_t* line;
    } cases[] = {
        // The ids are read; the priority is missing.
        {L"{\"id\":\"{Z}\",\"instanceId\":\"9\"}", L"{Z}",
         L"Failed to parse alert info. Alert id: {Z}, Instance id: 9, OutputAlertInfo : "
         L"{\"id\":\"{Z}\",\"instanceId\":\"9\"}"},
        {L"not json", L"", L"Failed to parse alert info. Alert id: , Instance id: , OutputAlertInfo : not json"},
    };
    size_t failures = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        auto alert = makeAlert(L"{A}", L"1", {L"v1"});
        const std::wstring before = AlertInfo::toJson(alert->getInfo());
        plugin->processing = {MODULE_STATUS_SUCCESS, c.output, 0, L""};
        EXPECT_FALSE(dispatcher->process(alert));
        EXPECT_EQ(before, AlertInfo::toJson(alert->getInfo()));
        EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_ERROR, kProcess, c.line));

        const auto found = events(L"Sentrel.Failed.AlertInfoParse");
        ASSERT_EQ(++failures, found.size());
        auto event = found.back();
        expectDimensions(event, {{L"Hit.GUID", c.parsedId}, {L"Event.Label", L"parseFailed"}, {L"Hit.Result", L"0"},
                                 {L"Hit.Label.1", L"NoViewer"}, {L"Hit.Label.2", L"v1"}, {L"Hit.Label.3", L"prod"}});
    }
    EXPECT_TRUE(events(L"Sentrel.Failed.PluginProcess").empty());
}

TEST_F(DispatcherTest, AnEmptyAlertIsRefusedWithoutAsking)
{
    EXPECT_FALSE(dispatcher->process(nullptr));
    EXPECT_FALSE(dispatcher->show(nullptr));
    EXPECT_TRUE(plugin->processed.empty());
    EXPECT_TRUE(viewers->lookups().empty());
    EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_ERROR, kProcess, L"Failed to process alert due to null."));
    EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_ERROR, kShow, L"Failed to show alert due to null."));
    EXPECT_TRUE(events(L"Sentrel.Failed.Show").empty());
}

// --- showing ------------------------------------------------------------

TEST_F(DispatcherTest, TheFirstViewerThatTakesTheAlertShowsIt)
{
    ViewerDouble::Viewer& refusing = registerViewer(L"v1");
    ViewerDouble::Viewer& taking = registerViewer(L"v2");
    refusing.answerShow(Answer::Failed);
    AlertInfo info = makeInfo(L"{A}", L"1");
    info.preferredViewer = {L"v1", L"v2"};
    // Created five seconds ago, as the information of a queued alert may be.
    info.creationTime -= 5 * 10000000LL;
    auto alert = std::make_shared<Alert>(info, nullptr, timeScale);

    ASSERT_TRUE(dispatcher->show(alert));
    EXPECT_EQ(taking.name(), alert->getViewer()->getName());

    // Each viewer got its own content; the second was asked with what the
    // first had been given still in the information.
    ASSERT_EQ(2u, plugin->contentCalls.size());
    EXPECT_EQ(L"prod", plugin->contentCalls[1].product);
    EXPECT_EQ(L"v2", plugin->contentCalls[1].viewer);
    AlertInfo asked;
    ASSERT_TRUE(AlertInfo::fromJson(plugin->contentCalls[1].alertJson, asked));
    EXPECT_EQ(L"content for v1", asked.content);
    const auto shown = taking.requests();
    ASSERT_EQ(1u, shown.size());
    AlertInfo sent;
    ASSERT_TRUE(AlertInfo::fromJson(shown[0].payload, sent));
    EXPECT_EQ(L"content for v2", sent.content);

    const auto lines = log.find({ETWLogging::LOG_LEVEL_INFORMATION, kSource, kShow,
                                 L"Sentrel Alert Status Shown. Alert id: {A}, Instance id: 1 TimeTaken: "});
    ASSERT_EQ(1u, lines.size());
    const long long lineTaken = std::stoll(lines[0].text.substr(lines[0].text.rfind(L' ') + 1));
    EXPECT_GE(lineTaken, 5000);
    EXPECT_LT(lineTaken, 60000);

    auto event = onlyEvent(L"Sentrel.Alert.Shown");
    expectDimensions(event, {{L"Interactive", L"true"}, {L"Hit.GUID", L"{A}"}, {L"Hit.Label.1", L"v2"},
                             {L"Hit.Label.2", L"v1,v2"}, {L"Hit.Label.3", L"prod"}});
    EXPECT_GE(std::stoll(event[L"Hit.Label.4"]), lineTaken);
    EXPECT_LT(std::stoll(event[L"Hit.Label.4"]), 60000);
    EXPECT_EQ(1u, events(L"Sentrel.Warning.ViewerFailure").size());
    EXPECT_TRUE(events(L"Sentrel.Failed.Show").empty());
}

TEST_F(DispatcherTest, AClockSetBackShowsAsZeroInTheLineAndNegativeInTheEvent)
{
    registerViewer(L"v1");
    AlertInfo info = makeInfo(L"{A}", L"1");
    info.preferredViewer = {L"v1"};
    // Made an hour "later": the clock went back since.
    info.creationTime += 3600 * 10000000LL;
    ASSERT_TRUE(dispatcher->show(std::make_shared<Alert>(info, nullptr, timeScale)));

    EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_INFORMATION, kShow,
                       L"Sentrel Alert Status Shown. Alert id: {A}, Instance id: 1 TimeTaken: 0"));
    auto event = onlyEvent(L"Sentrel.Alert.Shown");
    EXPECT_LT(std::stoll(event[L"Hit.Label.4"]), -3500000);
}

TEST_F(DispatcherTest, WhenNoViewerShowsItTheMasksSayWhyPerViewer)
{
    // v1 is not registered, v2 gets no content, v3 refuses the Show request.
    ViewerDouble::Viewer& second = registerViewer(L"v2");
    ViewerDouble::Viewer& third = registerViewer(L"v3");
    third.answerShow(Answer::Failed);
    plugin->contentStatus[L"v2"] = MODULE_STATUS_UNSUCCESSFUL;
    RunningUpdate update;
    ASSERT_TRUE(update.ok());
    BusDouble::RawBusPeer watcher;
    watcher.subscribe(L"Sentrel.Alert.{A}.Failed.1");
    watcher.subscribe(L"sustainability.collect.logs");
    auto alert = makeAlert(L"{A}", L"1", {L"v1", L"v2", L"v3"});

    EXPECT_FALSE(dispatcher->show(alert));
    EXPECT_EQ((std::vector<std::wstring>{L"v1", L"v2", L"v3"}), viewers->lookups());
    EXPECT_TRUE(second.requests().empty());
    EXPECT_EQ(1u, third.requests().size());

    EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_WARNING, kShow, L"Viewer v1 was not registered."));
    EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_WARNING, kShow,
                       L"Failed to get alert content. Alert: {A}, Product: prod, Viewer: v2."));
    EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_ERROR, kShow,
                       L"Sentrel Alert Status Failed. Alert id: {A}, Instance id: 1. Preferred viewers list is "
                       L"v1,v2,v3. PluginErrorCode: 2 ViewerErrorCode: 4"));

    auto content = onlyEvent(L"Sentrel.Warning.GetContentFailed");
    expectDimensions(content, {{L"Hit.GUID", L"{A}"}, {L"Event.Label", L"prod"}, {L"Hit.Result", L"2147483650"},
                               {L"Hit.Label.1", L"v2"}});

    auto failed = onlyEvent(L"Sentrel.Failed.Show");
    expectDimensions(failed, {{L"Hit.GUID", L"{A}"}, {L"Event.Label", L"prod"}, {L"Hit.Result", L"516"},
                              {L"Hit.Label.1", L"All"}, {L"Hit.Label.2", L"v1,v2,v3"}, {L"Hit.Label.3", L"1"}});

    BusDouble::RawBusPeer::Delivery outcome;
    ASSERT_TRUE(watcher.waitForDelivery(outcome));
    EXPECT_EQ(L"Sentrel.Alert.{A}.Failed.1", outcome.name);
    EXPECT_EQ(Ostrand::Message::defaultSource(), outcome.source);
    EXPECT_EQ(L"", outcome.payload);
    BusDouble::RawBusPeer::Delivery collect;
    ASSERT_TRUE(watcher.waitForDelivery(collect));
    EXPECT_EQ(L"sustainability.collect.logs", collect.name);
    EXPECT_EQ(L"Sentrel", collect.source);
    EXPECT_EQ(L"{\"Problem\":\"SR_FailedToShowAlert\",\"coolingperiod\":\"\",\"throttlingpercent\":\"1\","
              L"\"logstocollect\":\"2\",\"error_code\":\"516\",\"sub_error_code\":\"prod\",\"alert_guid\":\"{A}\","
              L"\"viewers\":\"v1,v2,v3\"}",
              collect.payload);

    // Nothing became current.
    EXPECT_FALSE(dispatcher->wait());
    EXPECT_FALSE(dispatcher->dismissCurrent());
}

TEST_F(DispatcherTest, AnEmptyViewerListFailsWithCodeZeroAndOneProductIsCollectedInFull)
{
    const struct {
        const wchar_t* product;
        const wchar_t* throttling;
    } cases[] = {
        {L"DIDERE", L"100"},
        {L"didere", L"1"},
    };
    BusDouble::RawBusPeer watcher;
    watcher.subscribe(L"sustainability.collect.logs");
    size_t failures = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.product);
        AlertInfo info = makeInfo(L"{B}", L"2");
        info.product = c.product;
        EXPECT_FALSE(dispatcher->show(std::make_shared<Alert>(info, nullptr, timeScale)));

        BusDouble::RawBusPeer::Delivery collect;
        ASSERT_TRUE(watcher.waitForDelivery(collect));
        EXPECT_EQ(std::wstring(L"{\"Problem\":\"SR_FailedToShowAlert\",\"coolingperiod\":\"\",\"throttlingpercent\":\"") +
                      c.throttling + L"\",\"logstocollect\":\"2\",\"error_code\":\"0\",\"sub_error_code\":\"" +
                      c.product + L"\",\"alert_guid\":\"{B}\",\"viewers\":\"\"}",
                  collect.payload);
        const auto found = events(L"Sentrel.Failed.Show");
        ASSERT_EQ(++failures, found.size());
        auto event = found.back();
        expectDimensions(event, {{L"Hit.Result", L"0"}, {L"Hit.Label.2", L""}, {L"Hit.Label.3", L"0"}});
    }
    EXPECT_TRUE(viewers->lookups().empty());
    EXPECT_TRUE(plugin->contentCalls.empty());
    EXPECT_EQ(2u, log.find({ETWLogging::LOG_LEVEL_ERROR, kSource, kShow,
                            L"Sentrel Alert Status Failed. Alert id: {B}, Instance id: 2. Preferred viewers list is . "
                            L"PluginErrorCode: 0 ViewerErrorCode: 0"})
                      .size());
}

// --- waiting ------------------------------------------------------------

TEST_F(DispatcherTest, TheWaitAddsThirtySecondsToTheTimeoutUnlessThatPassesThirtyTwoBits)
{
    registerViewer(L"v1");
    const struct {
        uint32_t timeout;
        int64_t seconds;
    } cases[] = {
        {0, 30},
        {100, 130},
        {0xFFFFFFE0u, 0xFFFFFFFELL},
        {0xFFFFFFE1u, 0xFFFFFFE1LL},
        {0xFFFFFFFFu, 0xFFFFFFFFLL},
    };
    size_t timeouts = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.timeout);
        auto scale = std::make_shared<RecordingTimeScale>();
        AlertInfo info = makeInfo(L"{A}", std::to_wstring(c.timeout));
        info.preferredViewer = {L"v1"};
        info.timeout = c.timeout;
        ASSERT_TRUE(dispatcher->show(std::make_shared<Alert>(info, nullptr, scale)));

        EXPECT_FALSE(dispatcher->wait());
        ASSERT_FALSE(scale->asked().empty());
        EXPECT_EQ(c.seconds, scale->asked()[0]);
        EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_INFORMATION, kWait,
                           L"Sentrel Alert Status Timeout. Alert id: {A}, Instance id: " + std::to_wstring(c.timeout)));
        const auto found = events(L"Sentrel.Alert.TimeOut");
        ASSERT_EQ(++timeouts, found.size());
        auto event = found.back();
        expectDimensions(event, {{L"Hit.GUID", L"{A}"}, {L"Hit.Label.1", L"v1"}});
    }
}

TEST_F(DispatcherTest, TheWaitEndsWithTheViewersOutcome)
{
    EXPECT_FALSE(dispatcher->wait()) << "nothing shown yet";
    ViewerDouble::Viewer& viewer = registerViewer(L"v1");
    viewer.answerShow(Answer::Shown, Outcome::Dismissed);
    ASSERT_TRUE(dispatcher->show(makeAlert(L"{A}", L"1", {L"v1"})));
    EXPECT_TRUE(dispatcher->wait());
    EXPECT_TRUE(events(L"Sentrel.Alert.TimeOut").empty());

    // It stays current; taking it down needs no Delete request any more.
    EXPECT_TRUE(dispatcher->dismissCurrent());
    for (const auto& request : viewer.requests())
        EXPECT_TRUE(request.show) << "no Delete request: " << std::string(request.name.begin(), request.name.end());
}

// The alert the second viewer took, after the first refused it, is still
// on screen until taken down through that viewer.
void expectTheSecondAttemptWaitsForItsOwnOutcome(AlertDispatcher& dispatcher, ViewerDouble::Viewer& taking,
                                                 const std::wstring& instance)
{
    EXPECT_FALSE(dispatcher.wait()) << "the second viewer's alert waits for its own outcome";
    EXPECT_TRUE(dispatcher.dismissCurrent());
    const auto requests = taking.requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(L"Sentrel.Viewer.takes" + instance + L".Delete." + instance, requests[1].name);
}

// What ended one viewer's attempt must not end the next viewer's: a copy
// of the refusing viewer's reply, which an SDK client publishes as a plain
// message after the reply itself and so possibly once the next viewer is
// asked, and an outcome that viewer reported before the next was asked.
TEST_F(DispatcherTest, ARepliedCopyOfARefusalDoesNotEndTheNextViewersAttempt)
{
    BusDouble::RawBusPeer refusingClient;
    for (const Answer refusal : {Answer::Failed, Answer::Dismissed}) {
        const std::wstring instance = refusal == Answer::Failed ? L"1" : L"2";
        SCOPED_TRACE(TestSupport::narrow(instance));
        registerViewer(L"refuses" + instance).answerShow(refusal, Outcome::None);
        ViewerDouble::Viewer& taking = registerViewer(L"takes" + instance);
        const std::wstring copy = ViewerDouble::Viewer::outcomeName(
            L"{A}", refusal == Answer::Failed ? Outcome::Failed : Outcome::Dismissed, instance);
        const size_t copiesBefore = journal(BusDouble::Call::DeliverMessage, copy).size();

        auto scale = std::make_shared<RecordingTimeScale>();
        ASSERT_TRUE(dispatcher->show(makeAlert(L"{A}", instance, {L"refuses" + instance, L"takes" + instance}, scale)));
        // The copy comes once the second viewer's attempt is under way, as
        // the refusing viewer's client publishes it.
        ASSERT_EQ(0u, refusingClient.publish(copy, L"refuses" + instance, L"", 1u << MESSAGE_FLAG_REPLY_COPIED));
        ASSERT_TRUE(TestSupport::waitUntil(
            [&] { return journal(BusDouble::Call::DeliverMessage, copy).size() > copiesBefore; }));

        expectTheSecondAttemptWaitsForItsOwnOutcome(*dispatcher, taking, instance);
    }
}

TEST_F(DispatcherTest, AnOutcomeOfAnEarlierViewersAttemptDoesNotEndTheNextOne)
{
    for (const Outcome reported : {Outcome::Failed, Outcome::Dismissed}) {
        const std::wstring instance = reported == Outcome::Failed ? L"1" : L"2";
        SCOPED_TRACE(TestSupport::narrow(instance));
        registerViewer(L"refuses" + instance).answerShow(Answer::Failed, reported);
        ViewerDouble::Viewer& taking = registerViewer(L"takes" + instance);
        const std::wstring outcome = ViewerDouble::Viewer::outcomeName(L"{A}", reported, instance);
        const size_t outcomesBefore = journal(BusDouble::Call::DeliverMessage, outcome).size();
        // The refusing viewer's outcome has reached the alert before the
        // second viewer is asked.
        plugin->beforeContent = [&](const std::wstring& viewer) {
            if (viewer == L"takes" + instance) {
                EXPECT_TRUE(TestSupport::waitUntil(
                    [&] { return journal(BusDouble::Call::DeliverMessage, outcome).size() > outcomesBefore; }));
            }
        };

        auto scale = std::make_shared<RecordingTimeScale>();
        ASSERT_TRUE(dispatcher->show(makeAlert(L"{A}", instance, {L"refuses" + instance, L"takes" + instance}, scale)));
        plugin->beforeContent = nullptr;

        expectTheSecondAttemptWaitsForItsOwnOutcome(*dispatcher, taking, instance);
    }
}

// --- taking alerts down -------------------------------------------------

TEST_F(DispatcherTest, ADeleteRequestTakesDownOnlyTheCurrentInstance)
{
    ViewerDouble::Viewer& viewer = registerViewer(L"v1");
    ASSERT_TRUE(dispatcher->show(makeAlert(L"{A}", L"1", {L"v1"})));

    EXPECT_FALSE(dispatcher->deleteAlert(L"2"));
    EXPECT_FALSE(dispatcher->deleteAlert(L"")) << "instance ids compare exactly";
    EXPECT_EQ(1u, viewer.requests().size());

    EXPECT_TRUE(dispatcher->deleteAlert(L"1"));
    const auto requests = viewer.requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(L"Sentrel.Viewer.v1.Delete.1", requests[1].name);
    // Forgotten: nothing left to wait for or take down.
    EXPECT_FALSE(dispatcher->deleteAlert(L"1"));
    EXPECT_FALSE(dispatcher->dismissCurrent());
    EXPECT_FALSE(dispatcher->wait());
    EXPECT_EQ(2u, viewer.requests().size());
}

TEST_F(DispatcherTest, ADeleteRequestEndsTheWaitOfTheDispatchThread)
{
    registerViewer(L"v1");
    // Its wait would last 100 s, far past what ending it may take on a loaded machine.
    auto scale = std::make_shared<RecordingTimeScale>(100s);
    ASSERT_TRUE(dispatcher->show(makeAlert(L"{A}", L"1", {L"v1"}, scale)));
    bool outcome = false;
    std::chrono::steady_clock::duration waited{};
    std::thread dispatch([&] {
        const auto start = std::chrono::steady_clock::now();
        outcome = dispatcher->wait();
        waited = std::chrono::steady_clock::now() - start;
    });
    // The waiting dispatch thread must not hold what the deletion needs.
    EXPECT_TRUE(scale->waitForAsk());
    EXPECT_TRUE(dispatcher->deleteAlert(L"1"));
    dispatch.join();
    EXPECT_TRUE(outcome);
    EXPECT_LT(waited, 60s);
    EXPECT_TRUE(events(L"Sentrel.Alert.TimeOut").empty());
}

TEST_F(DispatcherTest, StoppingEndsTheWaitInProgressAndEveryLaterOneAtOnce)
{
    registerViewer(L"v1");
    auto scale = std::make_shared<RecordingTimeScale>(600s);
    ASSERT_TRUE(dispatcher->show(makeAlert(L"{A}", L"1", {L"v1"}, scale)));
    std::promise<bool> outcome;
    std::future<bool> waited = outcome.get_future();
    std::thread dispatch([&] { outcome.set_value(dispatcher->wait()); });
    ASSERT_TRUE(scale->waitForAsk());
    dispatcher->stopWaiting();
    ASSERT_EQ(std::future_status::ready, waited.wait_for(30s));
    dispatch.join();
    EXPECT_FALSE(waited.get());
    EXPECT_FALSE(dispatcher->wait());
    // Stopping is no time-out; the alert is still there to be taken down.
    EXPECT_TRUE(events(L"Sentrel.Alert.TimeOut").empty());
    EXPECT_TRUE(dispatcher->dismissCurrent());
}

TEST_F(DispatcherTest, ARefusedDismissalStillForgetsTheAlert)
{
    ViewerDouble::Viewer& viewer = registerViewer(L"v1");
    viewer.answerDelete(Answer::Failed, Outcome::None);
    ASSERT_TRUE(dispatcher->show(makeAlert(L"{A}", L"1", {L"v1"})));

    EXPECT_FALSE(dispatcher->dismissCurrent());
    EXPECT_FALSE(dispatcher->dismissCurrent());
    EXPECT_FALSE(dispatcher->deleteAlert(L"1"));
    EXPECT_EQ(2u, viewer.requests().size()) << "one Show, one Delete";
}

TEST_F(DispatcherTest, ASecondShowTakesDownTheAlertOnScreenFirst)
{
    ViewerDouble::Viewer& viewer = registerViewer(L"v1");
    ASSERT_TRUE(dispatcher->show(makeAlert(L"{A}", L"1", {L"v1"})));
    ASSERT_TRUE(dispatcher->show(makeAlert(L"{B}", L"2", {L"v1"})));

    const auto requests = viewer.requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ(L"Sentrel.Viewer.v1.Show.1", requests[0].name);
    EXPECT_EQ(L"Sentrel.Viewer.v1.Delete.1", requests[1].name);
    EXPECT_EQ(L"Sentrel.Viewer.v1.Show.2", requests[2].name);
    EXPECT_FALSE(dispatcher->deleteAlert(L"1"));
    EXPECT_TRUE(dispatcher->deleteAlert(L"2"));
}

// An alert whose end takes as long as the test wants, as closing its own bus
// connection may.
class LingeringAlert : public Alert {
public:
    LingeringAlert(AlertInfo info, std::shared_ptr<Kest::AlertTimeScale> scale, std::shared_future<void> letGo,
                   std::atomic<bool>& ended)
        : Alert(std::move(info), nullptr, std::move(scale)), m_letGo(std::move(letGo)), m_ended(ended)
    {
    }
    ~LingeringAlert() override
    {
        m_letGo.wait();
        m_ended = true;
    }

private:
    std::shared_future<void> m_letGo;
    std::atomic<bool>& m_ended;
};

TEST_F(DispatcherTest, TheNextShowDoesNotWaitForThePreviousAlertToEnd)
{
    ViewerDouble::Viewer& viewer = registerViewer(L"v1");
    viewer.answerShow(Answer::Shown, Outcome::Dismissed);
    std::promise<void> letGo;
    const std::shared_future<void> gate = letGo.get_future().share();
    std::atomic<bool> ended{false};
    AlertInfo info = makeInfo(L"{A}", L"1");
    info.preferredViewer = {L"v1"};
    ASSERT_TRUE(dispatcher->show(std::make_shared<LingeringAlert>(std::move(info), timeScale, gate, ended)));
    ASSERT_TRUE(dispatcher->wait());

    auto second = std::async(std::launch::async, [this]() { return dispatcher->show(makeAlert(L"{B}", L"2", {L"v1"})); });
    const bool shownMeanwhile = second.wait_for(TestSupport::kGenerousWait) == std::future_status::ready;
    letGo.set_value();
    EXPECT_TRUE(shownMeanwhile) << "the second show waited for the first alert's end";
    EXPECT_TRUE(second.get());
    EXPECT_TRUE(TestSupport::waitUntil([&]() { return ended.load(); }));

    const auto requests = viewer.requests();
    ASSERT_EQ(2u, requests.size()) << "the finished alert needs no Delete request";
    EXPECT_EQ(L"Sentrel.Viewer.v1.Show.2", requests[1].name);
}

TEST_F(DispatcherTest, ADeleteRequestIsAnsweredWithoutWaitingForTheAlertToEnd)
{
    registerViewer(L"v1");
    std::promise<void> letGo;
    std::atomic<bool> ended{false};
    AlertInfo info = makeInfo(L"{A}", L"1");
    info.preferredViewer = {L"v1"};
    ASSERT_TRUE(dispatcher->show(std::make_shared<LingeringAlert>(std::move(info), timeScale,
                                                                  letGo.get_future().share(), ended)));

    auto deleted = std::async(std::launch::async, [this]() { return dispatcher->deleteAlert(L"1"); });
    const bool answered = deleted.wait_for(TestSupport::kGenerousWait) == std::future_status::ready;
    letGo.set_value();
    EXPECT_TRUE(answered) << "the delete request waited for the alert's end";
    EXPECT_TRUE(deleted.get());
    EXPECT_TRUE(TestSupport::waitUntil([&]() { return ended.load(); }));
}

// Lets the test act once its destruction has begun, before any of the
// dispatcher's own parts go.
class ObservedDispatcher : public AlertDispatcher {
public:
    ObservedDispatcher(std::shared_ptr<Kest::ViewerRegistrar> viewers, std::shared_ptr<Kest::PluginRegistrar> plugins,
                       std::shared_ptr<Ostrand::MessageBus> bus, std::function<void()> ending)
        : AlertDispatcher(std::move(viewers), std::move(plugins), std::move(bus)), m_ending(std::move(ending))
    {
    }
    ~ObservedDispatcher() override { m_ending(); }

private:
    std::function<void()> m_ending;
};

// An alert whose end holds its thread until let go, and which keeps a handle
// to that thread.
class ThreadNotingAlert : public Alert {
public:
    ThreadNotingAlert(AlertInfo info, std::shared_ptr<Kest::AlertTimeScale> scale, std::shared_future<void> letGo,
                      std::atomic<bool>& ended, std::atomic<HANDLE>& thread)
        : Alert(std::move(info), nullptr, std::move(scale)), m_letGo(std::move(letGo)), m_ended(ended),
          m_thread(thread)
    {
    }
    ~ThreadNotingAlert() override
    {
        m_thread = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
        m_letGo.wait();
        m_ended = true;
    }

private:
    std::shared_future<void> m_letGo;
    std::atomic<bool>& m_ended;
    std::atomic<HANDLE>& m_thread;
};

TEST_F(DispatcherTest, DestroyingTheDispatcherWaitsForTheAlertsItTookDown)
{
    registerViewer(L"v1").answerShow(Answer::Shown, Outcome::Dismissed);
    std::promise<void> letGo;
    std::atomic<bool> ended{false};
    std::atomic<HANDLE> releasing{nullptr};
    // Held by the test, so that the dispatcher's own parts go at once and
    // nothing but the releasing thread's wait separates its end from ours.
    auto bus = std::make_shared<Ostrand::MessageBusClient>();
    // Kept past the destruction: a releasing thread that outlived the
    // dispatcher finds its parts' memory still there, and the test fails by
    // its checks rather than by that thread's crash.
    alignas(ObservedDispatcher) static unsigned char storage[sizeof(ObservedDispatcher)];
    auto* observed = new (storage) ObservedDispatcher(viewers, plugin, bus, [&] { letGo.set_value(); });

    AlertInfo info = makeInfo(L"{A}", L"1");
    info.preferredViewer = {L"v1"};
    ASSERT_TRUE(observed->show(std::make_shared<ThreadNotingAlert>(std::move(info), timeScale,
                                                                   letGo.get_future().share(), ended, releasing)));
    ASSERT_TRUE(observed->wait());
    EXPECT_TRUE(observed->dismissCurrent());
    // The alert's end has begun on the releasing thread and waits there.
    ASSERT_TRUE(TestSupport::waitUntil([&] { return releasing.load() != nullptr; }));
    observed->~ObservedDispatcher();

    const bool endedFirst = ended.load();
    const bool threadGone = WaitForSingleObject(releasing, 0) == WAIT_OBJECT_0;
    EXPECT_TRUE(endedFirst) << "an alert outlived its dispatcher";
    EXPECT_TRUE(threadGone) << "the releasing thread outlived its dispatcher";
    // A thread that outlived the dispatcher is let end before the test goes.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(releasing, static_cast<DWORD>(TestSupport::kGenerousWait.count())));
    CloseHandle(releasing);
}

TEST_F(DispatcherTest, DestroyingTheDispatcherTakesDownItsAlert)
{
    ViewerDouble::Viewer& viewer = registerViewer(L"v1");
    ASSERT_TRUE(dispatcher->show(makeAlert(L"{A}", L"1", {L"v1"})));
    dispatcher.reset();

    const auto requests = viewer.requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(L"Sentrel.Viewer.v1.Delete.1", requests[1].name);
    EXPECT_EQ(1u, events(L"Sentrel.Alert.Dismissed").size());
}

// A viewer proxy whose dismissal throws, as a broken bus client might.
class ThrowingViewer : public Kest::AlertViewer {
public:
    using Kest::AlertViewer::AlertViewer;
    bool dismiss(const std::wstring&, const std::wstring&) override { throw std::runtime_error("bus gone"); }
};

TEST_F(DispatcherTest, ADismissalThatThrowsDoesNotEscapeTheDestructor)
{
    registerViewer(L"v1");
    viewers->add(std::make_shared<ThrowingViewer>(L"v1"));
    ASSERT_TRUE(dispatcher->show(makeAlert(L"{A}", L"1", {L"v1"})));
    EXPECT_NO_THROW(dispatcher.reset());
    EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_ERROR, L"Kest::AlertDispatcher::~AlertDispatcher",
                       L"Failed to dismiss the current alert: bus gone. Continuing."));
}

} // namespace
