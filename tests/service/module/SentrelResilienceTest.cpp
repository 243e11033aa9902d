// What keeps the module answering: a request that fails in its task, a
// session that cannot be had or is slow to end, a host that initialises the
// module again, and an end that comes while a task still runs.
#include "Gate.h"
#include "SentrelTestSupport.h"

#include "WaitableCounter.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;
using SentrelTest::ModuleFixture;
using TestSupport::Gate;
using TestSupport::LogQuery;

class SentrelResilience : public ModuleFixture {
protected:
    bool makesModuleAtSetUp() const override { return false; }

    size_t unsuccessfulTasks() const
    {
        return log
            .find(LogQuery{ETWLogging::LOG_LEVEL_ERROR, L"SentrelImpl", L"Kest::SentrelImpl::executeCallback",
                           L"SR Callback unsuccessful."})
            .size();
    }

    std::wstring showNext(const std::wstring& alertId, uint32_t sessionId = 0)
    {
        const std::wstring instance = std::to_wstring(m_nextId);
        takeIdsUntil(m_nextId + 1);
        return ask(L"Sentrel.Alert.Show." + instance, showRequest(alertId, instance, sessionId));
    }
};

TEST_F(SentrelResilience, InitializeAfterUninitializeAnswersRequestsAgain)
{
    // Between two initializations.
    makeModule();
    EXPECT_EQ(L"Sentrel.Alert.A.Queued.1", showNext(L"A"));
    EXPECT_EQ(MODULE_STATUS_SUCCESS, module->uninitialize());
    EXPECT_EQ(MODULE_STATUS_SUCCESS, module->initialize());
    EXPECT_EQ(L"Sentrel.Alert.B.Queued.2", showNext(L"B"));
    EXPECT_EQ(L"Sentrel.Alert..NotFound.2", ask(L"Sentrel.Alert.Delete.2", showRequest(L"B", L"2")));
    module->uninitialize();
    destroyModule();

    // Before the first initialization.
    makeModule(true);
    EXPECT_EQ(L"Sentrel.Alert.C.Queued.1", showNext(L"C"));
}

TEST_F(SentrelResilience, ATaskThatThrowsLeavesTheNextRequestsAnswered)
{
    makeModule();
    factory->script->onQueue = [](const Kest::AlertInfo& info) {
        if (info.alertId == L"Throws")
            throw std::runtime_error("plugin gone");
    };
    factory->script->onDelete = [](const std::wstring& instanceId) {
        if (instanceId == L"2")
            throw std::runtime_error("viewer gone");
    };
    takeIdsUntil(5);
    send(L"Sentrel.Alert.Show.1", showRequest(L"Throws", L"1"));
    send(L"Sentrel.Alert.Delete.2", showRequest(L"X", L"2"));
    // The two that threw get no reply; the ones behind them do.
    EXPECT_EQ(L"Sentrel.Alert.B.Queued.3", ask(L"Sentrel.Alert.Show.3", showRequest(L"B", L"3")));
    EXPECT_EQ(L"Sentrel.Alert..NotFound.4", ask(L"Sentrel.Alert.Delete.4", showRequest(L"C", L"4")));
    EXPECT_EQ(1u, journal->count(L"global queue Throws 1"));
    EXPECT_EQ(1u, journal->count(L"global delete 2 X"));
    EXPECT_EQ(2u, unsuccessfulTasks());
}

TEST_F(SentrelResilience, ASessionFactoryThatMakesNoSessionLeavesTheRequestUnansweredAndTheNextAnswered)
{
    makeModule();
    factory->script->noUserSessions = true;
    takeIdsUntil(3);
    send(L"Sentrel.Alert.Show.1", showRequest(L"A", L"1", 4));
    EXPECT_EQ(L"Sentrel.Alert.B.Queued.2", ask(L"Sentrel.Alert.Show.2", showRequest(L"B", L"2")));
    EXPECT_EQ(1u, journal->count(L"createUserSession 4"));
    EXPECT_EQ(0u, journal->count(L"user4 queue A 1"));
    EXPECT_EQ(1u, unsuccessfulTasks());
    EXPECT_EQ(L"0", askPayload(L"Sentrel.Queue.GetStatus")) << "no session was kept";
}

TEST_F(SentrelResilience, ASessionThatIsSlowToEndAfterLogOffHoldsUpNoOtherRequest)
{
    makeModule();
    EXPECT_EQ(L"Sentrel.Alert.A.Queued.1", showNext(L"A", 5));
    TestSupport::WaitableCounter ending;
    Gate gate;
    factory->script->onDestroy = [&] {
        ending.increment();
        gate.pass();
    };
    product->publish(L"SystemMonitor.UserSession.Logoff", L"SystemMonitor", L"{\"sessionId\":5}");
    ASSERT_TRUE(ending.waitFor(1, 30s));

    // While session 5 ends, the other sessions' requests and the queries go on.
    EXPECT_EQ(L"0", askPayload(L"Sentrel.Queue.GetStatus"));
    EXPECT_EQ(L"Sentrel.Alert.B.Queued.2", showNext(L"B", 6));
    gate.open();
    EXPECT_EQ(MODULE_STATUS_SUCCESS, waitForHandled(L"SystemMonitor.UserSession.Logoff"));
    EXPECT_EQ(1u, journal->count(L"user5 destroyed"));
    factory->script->onDestroy = nullptr;
}

// A clock that says when it goes.
class WatchedClock : public SentrelTest::TestClock {
public:
    explicit WatchedClock(std::function<void()> onDestroyed) : m_onDestroyed(std::move(onDestroyed)) {}
    ~WatchedClock() override { m_onDestroyed(); }

private:
    std::function<void()> m_onDestroyed;
};

TEST_F(SentrelResilience, DestructionWhileATaskRunsWaitsForItBeforeAnythingItUsesGoes)
{
    struct Shared {
        std::mutex lock;
        std::condition_variable changed;
        bool taskRunning = false;
        bool clockGone = false;
        bool clockGoneUnderTask = false;
        bool released = false;
    };
    auto shared = std::make_shared<Shared>();
    clock = std::make_shared<WatchedClock>([shared] {
        std::lock_guard<std::mutex> guard(shared->lock);
        shared->clockGone = true;
        shared->clockGoneUnderTask = shared->taskRunning;
        shared->changed.notify_all();
    });
    makeModule();
    // The module holds the only reference: it decides when the clock goes.
    clock.reset();

    factory->script->onQueue = [shared](const Kest::AlertInfo&) {
        std::unique_lock<std::mutex> guard(shared->lock);
        shared->taskRunning = true;
        shared->changed.notify_all();
        // Until the test lets go, or the clock went from under the task.
        shared->changed.wait_for(guard, 60s, [&] { return shared->released || shared->clockGone; });
        shared->taskRunning = false;
    };
    takeIdsUntil(2);
    send(L"Sentrel.Alert.Show.1", showRequest(L"A", L"1"));
    {
        std::unique_lock<std::mutex> guard(shared->lock);
        ASSERT_TRUE(shared->changed.wait_for(guard, 30s, [&] { return shared->taskRunning; }));
    }

    const size_t unsubscribed = journalNames(BusDouble::Call::Unsubscribe).size();
    std::promise<void> destroyed;
    std::future<void> done = destroyed.get_future();
    std::thread destroyer([&] {
        module.reset();
        destroyed.set_value();
    });
    // The destructor's first step, the handlers' removal, has happened; what
    // follows at once must not free anything the running task may still use.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (journalNames(BusDouble::Call::Unsubscribe).size() < unsubscribed + 5 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    {
        // Nothing is expected to happen here: the bound only ends the look.
        std::unique_lock<std::mutex> guard(shared->lock);
        shared->changed.wait_for(guard, 2s, [&] { return shared->clockGone; });
        shared->released = true;
        shared->changed.notify_all();
    }
    EXPECT_EQ(std::future_status::ready, done.wait_for(30s)) << "the destructor hangs";
    destroyer.join();

    std::lock_guard<std::mutex> guard(shared->lock);
    EXPECT_TRUE(shared->clockGone);
    EXPECT_FALSE(shared->clockGoneUnderTask) << "the clock went while a task still ran";
    EXPECT_EQ(1u, log.find(LogQuery{ETWLogging::LOG_LEVEL_INFORMATION, L"", L"", L"Exiting SR executor thread"})
                      .size());
}

} // namespace
