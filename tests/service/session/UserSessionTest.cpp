#include "Gate.h"
#include "SessionTestSupport.h"
#include "TestNames.h"

#include "session/AlertGlobalSession.h"
#include "session/AlertSessionFactory.h"
#include "session/AlertUserSession.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;
using SessionTest::ScriptedDispatcher;
using WtsDouble::ConnectState;

constexpr uint32_t kSession = 3;
constexpr uint32_t kOtherSession = 5;
// A second of the start delay passes in ten milliseconds.
constexpr double kFastDelay = 0.01;

const wchar_t kLogon[] = L"SystemMonitor.UserSession.Logon";

class UserSessionTest : public SessionTest::SessionFixture {
protected:
    void SetUp() override
    {
        SessionFixture::SetUp();
        sessions.setActiveSession(kSession);
        sessions.setLoggedOnSecondsAgo(kSession, 600);
        dispatcher = std::make_shared<ScriptedDispatcher>(bus);
        global = std::make_shared<Kest::AlertGlobalSession>(nullptr, nullptr, std::make_shared<ScriptedDispatcher>(bus));
    }

    std::unique_ptr<Kest::AlertUserSession> start(uint32_t sessionId = kSession, double timeScale = kFastDelay,
                                                  std::shared_ptr<ScriptedDispatcher> with = nullptr)
    {
        return std::make_unique<Kest::AlertUserSession>(sessionId, nullptr, nullptr, global,
                                                        with ? with : dispatcher, bus,
                                                        std::make_shared<Kest::AlertTimeScale>(timeScale));
    }

    static bool queue(Kest::AlertSession& session, const std::shared_ptr<Kest::Alert>& alert)
    {
        bool suppressed = false;
        session.queueAlert(alert, suppressed);
        return !suppressed;
    }

    void publishMonitor(const std::wstring& name)
    {
        ASSERT_EQ(0u, monitor.publish(name, L"SystemMonitor", L"{\"sessionId\":3}")) << name;
    }

    // Alerts made strictly one after the other, by the clock the priority
    // comparison reads.
    std::shared_ptr<Kest::Alert> makeAfter(const std::shared_ptr<Kest::Alert>& earlier, const std::wstring& alertId,
                                           const std::wstring& instanceId, int32_t priority)
    {
        for (;;) {
            auto alert = makeAlert(alertId, instanceId, priority);
            if (!earlier || alert->getCreationTime() > earlier->getCreationTime())
                return alert;
            std::this_thread::sleep_for(1ms);
        }
    }

    static bool waitUntilIdle(Kest::AlertUserSession& session)
    {
        return TestSupport::waitUntil([&] { return !session.isBusy(); });
    }

    std::shared_ptr<ScriptedDispatcher> dispatcher;
    std::shared_ptr<Kest::AlertGlobalSession> global;
};

TEST_F(UserSessionTest, DuringTheStartDelayTheSessionIsBusyAndShowsNothing)
{
    sessions.setLoggedOnSecondsAgo(kSession, 30);
    const auto started = std::chrono::steady_clock::now();
    auto session = start();
    EXPECT_TRUE(session->isBusy());
    ASSERT_TRUE(queue(*session, makeAlert(L"{A}", L"1")));
    ASSERT_TRUE(waitForLine(ETWLogging::LOG_LEVEL_NORMAL, L"AlertUserSession",
                            L"Starting user session alert thread for session 3 with 90 delay"));
    EXPECT_TRUE(session->isBusy());
    EXPECT_TRUE(dispatcher->shown().empty());

    ASSERT_TRUE(dispatcher->waitForShown(1));
    // 90 s at a hundredth of their length.
    EXPECT_GE(std::chrono::steady_clock::now() - started, 850ms);
    EXPECT_TRUE(waitUntilIdle(*session));
    EXPECT_TRUE(session->isEmpty());
}

TEST_F(UserSessionTest, TheStartDelayFollowsTheLogOnAndDestructionCutsItShort)
{
    const struct {
        uint32_t sessionId;
        std::function<void(WtsDouble::WtsDoubleControl&)> arrange;
        const wchar_t* started;
        const wchar_t* warning;
    } cases[] = {
        {11, [](WtsDouble::WtsDoubleControl& s) { s.setLoggedOnSecondsAgo(11, 30); },
         L"for session 11 with 90 delay", nullptr},
        {12, [](WtsDouble::WtsDoubleControl& s) { s.setLoggedOnSecondsAgo(12, 600); },
         L"for session 12 with 0 delay", nullptr},
        {13, [](WtsDouble::WtsDoubleControl& s) { s.failInfo(13, 0); }, L"for session 13 with 120 delay",
         L"Failed to get session info (0), using default delay"},
        {14, [](WtsDouble::WtsDoubleControl& s) { s.failInfo(14, 1168); }, L"for session 14 with 120 delay",
         L"Failed to get session info (1168), using default delay"},
        {15, [](WtsDouble::WtsDoubleControl& s) { s.setInfoSize(15, 200); }, L"for session 15 with 120 delay",
         L"Unexpected session info size, using default delay"},
    };
    for (const auto& c : cases) {
        c.arrange(sessions);
        // Real time: the delay would last minutes.
        auto session = start(c.sessionId, 1.0);
        ASSERT_TRUE(waitForLine(ETWLogging::LOG_LEVEL_NORMAL, L"AlertUserSession", c.started)) << c.started;
        if (c.warning) {
            EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_WARNING, L"AlertUserSession", c.warning)) << c.warning;
        }
        const auto stopping = std::chrono::steady_clock::now();
        session.reset();
        // Far less than the delay's 90 s, and plenty for a loaded machine.
        EXPECT_LT(std::chrono::steady_clock::now() - stopping, 30s) << c.started;
    }
}

TEST_F(UserSessionTest, AnInactiveSessionShowsNothingUntilTheMonitorSaysItMayBeActive)
{
    sessions.setActiveSession(kOtherSession);
    auto session = start();
    uint32_t before = sessions.listingCalls();
    ASSERT_TRUE(queue(*session, makeAlert(L"{A}", L"1")));
    ASSERT_TRUE(waitForListing(before)) << "a queued alert makes the session test";

    for (const wchar_t* name : Kest::AlertUserSession::kSessionEvents) {
        before = sessions.listingCalls();
        publishMonitor(name);
        EXPECT_TRUE(waitForListing(before)) << name;
    }
    EXPECT_TRUE(dispatcher->shown().empty());
    EXPECT_FALSE(session->isEmpty());

    sessions.setSessions({});
    publishMonitor(kLogon);
    EXPECT_TRUE(waitForLine(ETWLogging::LOG_LEVEL_WARNING, L"AlertUserSession", L"No active session was found."));

    sessions.failListing(1722);
    publishMonitor(kLogon);
    EXPECT_TRUE(waitForLine(ETWLogging::LOG_LEVEL_ERROR, L"AlertUserSession",
                            L"Failed to EnumerateSessions. Error: 1722."));
    TestSupport::waitUntil([&] { return !events(L"Sentrel.UserSession.Failed").empty(); });
    const auto failures = events(L"Sentrel.UserSession.Failed");
    ASSERT_FALSE(failures.empty());
    EXPECT_EQ(L"3", failures[0].at(L"Event.Label"));
    EXPECT_EQ(L"1722", failures[0].at(L"Hit.Result"));
    EXPECT_TRUE(dispatcher->shown().empty());

    sessions.succeedListing();
    sessions.setActiveSession(kSession);
    publishMonitor(kLogon);
    ASSERT_TRUE(dispatcher->waitForShown(1));
    EXPECT_EQ(std::vector<std::wstring>{L"1"}, dispatcher->shown());
}

TEST_F(UserSessionTest, OwnAndGlobalAlertsAreShownMostUrgentFirstAndAmongEqualsTheOlder)
{
    sessions.setActiveSession(kOtherSession);
    auto session = start();
    auto a = makeAfter(nullptr, L"{A}", L"1", 2);
    auto b = makeAfter(a, L"{B}", L"2", 1);
    auto d = makeAfter(b, L"{D}", L"4", 2);
    auto e = makeAfter(d, L"{E}", L"5", 2);
    auto c = makeAfter(e, L"{C}", L"3", 3);
    ASSERT_TRUE(queue(*session, a));
    ASSERT_TRUE(queue(*global, b));
    ASSERT_TRUE(queue(*global, d));
    ASSERT_TRUE(queue(*session, e));
    ASSERT_TRUE(queue(*session, c));

    sessions.setActiveSession(kSession);
    publishMonitor(kLogon);
    ASSERT_TRUE(dispatcher->waitForShown(5));
    // B (1) before A (2); A before D, both 2, A older; D older than E; C (3) last.
    EXPECT_EQ((std::vector<std::wstring>{L"2", L"1", L"4", L"5", L"3"}), dispatcher->shown());
    EXPECT_TRUE(global->isEmpty());
    EXPECT_TRUE(session->isEmpty());
}

TEST_F(UserSessionTest, ADeleteTakesAWaitingAlertOffTheQueueAndTheShownOneOffTheScreen)
{
    dispatcher->holdOnScreen(true);
    auto session = start();
    ASSERT_TRUE(queue(*session, makeAlert(L"{X}", L"1")));
    ASSERT_TRUE(dispatcher->waitForWaiting());
    ASSERT_TRUE(queue(*session, makeAlert(L"{Y}", L"2")));

    EXPECT_TRUE(session->deleteAlert(L"2", L"{Y-request}"));
    EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_INFORMATION, L"AlertUserSession",
                       L"Sentrel Alert Status Delete. Alert id: {Y-request}, Instance id: 2."));
    EXPECT_TRUE(dispatcher->deleted().empty()) << "a waiting alert is no business of the viewer";

    EXPECT_TRUE(session->deleteAlert(L"1", L"{X}"));
    EXPECT_EQ(std::vector<std::wstring>{L"1"}, dispatcher->deleted());
    EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_INFORMATION, L"AlertUserSession",
                       L"Sentrel Alert Status Dismissed. Alert id: {X}, Instance id: 1."));
    EXPECT_FALSE(logged(0, L"", L"Sentrel Alert Status Delete. Alert id: {X}"));

    const auto deletes = events(L"Sentrel.Alert.Delete");
    ASSERT_EQ(2u, deletes.size());
    EXPECT_EQ(L"{Y-request}", deletes[0].at(L"Hit.GUID"));
    EXPECT_EQ(L"{X}", deletes[1].at(L"Hit.GUID"));
    EXPECT_EQ(L"Legacy", deletes[1].at(L"Hit.Label.1"));

    EXPECT_FALSE(session->deleteAlert(L"1", L"{X}")) << "neither waiting nor on screen";
    EXPECT_FALSE(session->deleteAlert(L"9", L"{Z}"));
    EXPECT_TRUE(waitUntilIdle(*session));
    EXPECT_EQ(std::vector<std::wstring>{L"1"}, dispatcher->shown()) << "the deleted alert is never shown";
    EXPECT_EQ(2u, events(L"Sentrel.Alert.Delete").size());
}

TEST_F(UserSessionTest, DuplicatesAndSuppressedAlertsStayOutOfTheQueue)
{
    sessions.setActiveSession(kOtherSession);
    auto session = start();
    ASSERT_TRUE(queue(*session, makeAlert(L"{A}", L"1", 2, L"Disk full")));
    EXPECT_FALSE(queue(*session, makeAlert(L"{B}", L"2", 1, L"Disk full")));
    expectDuplicateReported(L"AlertUserSession", L"{B}", L"2");

    dispatcher->suppress(L"3");
    EXPECT_FALSE(queue(*session, makeAlert(L"{C}", L"3")));
    EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_INFORMATION, L"AlertUserSession",
                       L"Plugin suppressed the alert. Alert id: {C}, Instance: 3."));

    EXPECT_FALSE(session->isEmpty());
    EXPECT_TRUE(session->deleteAlert(L"1", L"{A}"));
    EXPECT_TRUE(session->isEmpty());
}

TEST_F(UserSessionTest, AFailedShowOrWaitIsLoggedAndTheNextAlertFollows)
{
    dispatcher->setShowResult(false);
    auto session = start();
    ASSERT_TRUE(queue(*session, makeAlert(L"{A}", L"1")));
    ASSERT_TRUE(waitForLine(ETWLogging::LOG_LEVEL_ERROR, L"AlertUserSession", L"Failed to show alert."));
    EXPECT_EQ(0, dispatcher->dismissals());

    dispatcher->setShowResult(true);
    dispatcher->setWaitResult(false);
    ASSERT_TRUE(queue(*session, makeAlert(L"{B}", L"2")));
    ASSERT_TRUE(waitForLine(ETWLogging::LOG_LEVEL_ERROR, L"AlertUserSession", L"Failed to wait for alert."));
    EXPECT_TRUE(waitUntilIdle(*session));
    EXPECT_EQ(1, dispatcher->dismissals()) << "a wait that failed takes the alert down";
    EXPECT_EQ((std::vector<std::wstring>{L"1", L"2"}), dispatcher->shown());
}

// Whatever is thrown while one alert is handled ends that alert, never the
// session's thread, which shows the next one.
TEST_F(UserSessionTest, AnExceptionWhileAnAlertIsHandledEndsThatAlertAndTheNextFollows)
{
    using Throw = ScriptedDispatcher::Throw;
    const struct {
        Throw what;
        const char* thrown;
    } cases[] = {
        {Throw::StandardFromShow, "show failed on purpose"},
        {Throw::NonStandardFromWait, "an exception of unknown type"},
    };
    auto session = start();
    std::vector<std::wstring> shown;
    std::vector<std::wstring> abandoned;
    int instance = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.thrown);
        dispatcher->throwNext(c.what);
        const std::wstring failing = std::to_wstring(++instance);
        ASSERT_TRUE(queue(*session, makeAlert(L"{T" + failing + L"}", failing)));
        abandoned.push_back(failing);
        EXPECT_TRUE(TestSupport::waitUntil([&] { return dispatcher->abandoned() == abandoned; }));
        EXPECT_TRUE(waitForLine(ETWLogging::LOG_LEVEL_ERROR, L"AlertUserSession",
                                L"Failed to handle an alert of session " + std::to_wstring(kSession) + L": " +
                                    TestSupport::widen(c.thrown) + L". Ending the alert and going on."));

        const std::wstring next = std::to_wstring(++instance);
        ASSERT_TRUE(queue(*session, makeAlert(L"{N" + next + L"}", next)));
        shown.push_back(failing);
        shown.push_back(next);
        EXPECT_TRUE(dispatcher->waitForShown(shown.size())) << "the session's thread ended";
        EXPECT_EQ(shown, dispatcher->shown());
        EXPECT_TRUE(waitUntilIdle(*session));
    }
}

TEST_F(UserSessionTest, AGlobalAlertIsShownOnlyByTheActiveSession)
{
    auto elsewhere = std::make_shared<ScriptedDispatcher>(bus);
    auto active = start();
    auto inactive = start(kOtherSession, kFastDelay, elsewhere);
    EXPECT_TRUE(waitUntilIdle(*active));
    EXPECT_TRUE(waitUntilIdle(*inactive));

    ASSERT_TRUE(queue(*global, makeAlert(L"{G}", L"1")));
    ASSERT_TRUE(dispatcher->waitForShown(1));
    EXPECT_EQ(std::vector<std::wstring>{L"1"}, dispatcher->shown());
    EXPECT_TRUE(elsewhere->shown().empty());
}

TEST_F(UserSessionTest, ASessionMadeAgainWhileTheOldOneEndsHearsOfGlobalAlerts)
{
    auto replacing = std::make_shared<ScriptedDispatcher>(bus);
    auto old = start();
    ASSERT_TRUE(waitUntilIdle(*old));
    // A show request for the id right after its log-off, the old session
    // not yet destroyed.
    auto again = start(kSession, kFastDelay, replacing);
    ASSERT_TRUE(waitUntilIdle(*again));
    old.reset();

    ASSERT_TRUE(queue(*global, makeAlert(L"{G}", L"1")));
    EXPECT_TRUE(replacing->waitForShown(1)) << "the new session was never told of the global alert";
    EXPECT_TRUE(dispatcher->shown().empty());
}

TEST_F(UserSessionTest, NoWakeUpIsLostBetweenTheTestAndTheWait)
{
    auto session = start();
    ASSERT_TRUE(waitUntilIdle(*session));
    size_t shown = 0;
    // Each alert arrives while the thread goes back from the last one to its wait.
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(queue(*session, makeAlert(L"{Q}", std::to_wstring(i))));
        ASSERT_TRUE(dispatcher->waitForShown(++shown)) << "alert " << i << " was never shown";
    }
    // The global queue takes an alert without this session's lock.
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(queue(*global, makeAlert(L"{G}", std::to_wstring(i))));
        ASSERT_TRUE(dispatcher->waitForShown(++shown)) << "global alert " << i << " was never shown";
    }
    // The session becomes active, and an alert wakes it, while the thread
    // still asks whether it is the active one.
    for (int i = 0; i < 600; ++i) {
        sessions.setActiveSession(kOtherSession);
        ASSERT_TRUE(queue(*session, makeAlert(L"{O}", std::to_wstring(i))));
        // Sweeps the moment of the change across the thread's test.
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(10 * (i % 50));
        while (std::chrono::steady_clock::now() < until) {
        }
        sessions.setActiveSession(kSession);
        ASSERT_TRUE(queue(*global, makeAlert(L"{W}", std::to_wstring(i))));
        shown += 2;
        ASSERT_TRUE(dispatcher->waitForShown(shown)) << "the alerts of round " << i << " were never shown";
    }
    // The session becomes active while the thread tests and goes to wait.
    for (int i = 0; i < 100; ++i) {
        sessions.setActiveSession(kOtherSession);
        ASSERT_TRUE(queue(*session, makeAlert(L"{M}", std::to_wstring(i))));
        sessions.setActiveSession(kSession);
        publishMonitor(kLogon);
        ASSERT_TRUE(dispatcher->waitForShown(++shown)) << "alert " << i << " after the log-on was never shown";
    }
}

TEST_F(UserSessionTest, TheFactoryMakesSessionsWithTheirOwnPartsAndTheGivenGlobalSession)
{
    Kest::AlertSessionFactory factory;
    auto made = factory.createGlobalSession(nullptr, nullptr);
    ASSERT_TRUE(made);
    EXPECT_TRUE(made->isEmpty());

    auto user = factory.createUserSession(kSession, nullptr, nullptr, made);
    ASSERT_TRUE(std::dynamic_pointer_cast<Kest::AlertUserSession>(user));
    EXPECT_TRUE(waitForLine(ETWLogging::LOG_LEVEL_NORMAL, L"AlertUserSession",
                            L"Starting user session alert thread for session 3 with 0 delay"));
    user.reset();
}

// An alert whose end lasts until the gate opens, as the close of a bus
// connection may last.
class SlowToEndAlert : public Kest::Alert {
public:
    SlowToEndAlert(Kest::AlertInfo info, std::shared_ptr<Ostrand::MessageBus> bus,
                   std::shared_ptr<TestSupport::Gate> gate)
        : Kest::Alert(std::move(info), std::move(bus)), m_gate(std::move(gate))
    {
    }
    ~SlowToEndAlert() override { m_gate->pass(); }

private:
    std::shared_ptr<TestSupport::Gate> m_gate;
};

TEST_F(UserSessionTest, TheEndOfAnAlertNeverHoldsUpTheNextOne)
{
    auto gate = std::make_shared<TestSupport::Gate>();
    // Both queued before the session may show either.
    sessions.setActiveSession(kOtherSession);
    auto session = start();
    // Destroyed before the session, which waits for its thread.
    struct Opener {
        TestSupport::Gate& gate;
        ~Opener() { gate.open(); }
    } opener{*gate};
    ASSERT_TRUE(waitUntilIdle(*session));
    dispatcher->setShowResult(false);

    Kest::AlertInfo info;
    info.alertId = L"{E}";
    info.instanceId = L"1";
    info.priority = 1;
    info.product = L"prod";
    info.context = L"{\"title\":\"slow to end\"}";
    // The session's reference is the last one once the show failed.
    ASSERT_TRUE(queue(*session, std::make_shared<SlowToEndAlert>(std::move(info), bus, gate)));
    ASSERT_TRUE(queue(*session, makeAlert(L"{N}", L"2")));
    sessions.setActiveSession(kSession);
    publishMonitor(kLogon);
    ASSERT_TRUE(dispatcher->waitForShown(1));
    EXPECT_EQ(L"1", dispatcher->shown()[0]);
    EXPECT_TRUE(dispatcher->waitForShown(2)) << "the next alert waited for the end of the one before";
}

} // namespace
