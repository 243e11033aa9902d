#include "Registry/monitored_reg_key.h"
#include "Registry/CRegKeyImpl.h"
#include "Thread/CEventFactory.h"

#include "PlatformLogRecorder.h"
#include "ScratchRegistryKey.h"
#include "TestNames.h"
#include "WaitableCounter.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>

using Halvex::CEventFactory;
using Halvex::CEventHandle;
using Halvex::monitored_reg_key;
using TestSupport::PlatformLogRecorder;
using TestSupport::ScratchRegistryKey;
using TestSupport::WaitableCounter;

namespace {

// Only reached when something hangs.
constexpr std::chrono::milliseconds kDeadline{10000};

const DWORD kFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

bool runningUnderWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The real key, which tells the test each time the monitor has armed its
// notification, so that changes are made only when someone listens. After
// arming it leaves an unrelated last error behind: the monitor must report
// what the notification call returned, not the thread's last error.
class ArmCountingKeyImpl : public Halvex::internal::CRegKeyImpl {
public:
    LONG NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous) override
    {
        LONG result = CRegKeyImpl::NotifyChangeKeyValue(watchSubtree, filter, event, asynchronous);
        SetLastError(ERROR_ACCESS_DENIED);
        armed.increment();
        return result;
    }

    WaitableCounter armed;
};

// Reports what each run of the worker returned.
class ProbeMonitor : public monitored_reg_key {
public:
    using monitored_reg_key::monitored_reg_key;
    // The worker runs in this class's override: it must end before the
    // derived part goes.
    ~ProbeMonitor() override { stop(); }

    uint32_t lastResult() const { return m_lastResult; }
    WaitableCounter entered;
    WaitableCounter ended;

protected:
    uint32_t registry_callback_thread(bool watchSubtree, DWORD notifyFilter) override
    {
        entered.increment();
        uint32_t result = monitored_reg_key::registry_callback_thread(watchSubtree, notifyFilter);
        m_lastResult = result;
        ended.increment();
        return result;
    }

private:
    std::atomic<uint32_t> m_lastResult{0xFFFFFFFFu};
};

// A callback that counts its calls and can be held inside until released.
struct Callback {
    void operator()()
    {
        thread = std::this_thread::get_id();
        int call = calls.increment();
        if (holdFirst && call == 1) {
            EXPECT_TRUE(release.waitFor(1, kDeadline));
        }
        if (body)
            body(call);
    }

    bool holdFirst = false;
    std::function<void(int)> body;
    WaitableCounter calls;
    WaitableCounter release;
    std::atomic<std::thread::id> thread{};
};

class MonitoredRegKeyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(scratch.handle(), nullptr);
        ASSERT_EQ(monitor.open(scratch.root(), scratch.path().c_str(), KEY_READ), ERROR_SUCCESS);
    }

    bool start(Callback& callback, bool watchSubtree = false)
    {
        return monitor.start([&callback] { callback(); }, watchSubtree, kFilter);
    }

    // Changes a value of the watched key once the monitor has armed for the
    // `arms`-th time.
    void changeWhenArmed(int arms)
    {
        ASSERT_TRUE(impl->armed.waitFor(arms, kDeadline));
        DWORD value = static_cast<DWORD>(++m_changes);
        scratch.setRaw(L"Value", REG_DWORD, &value, sizeof value);
    }

    void deleteWatchedKey()
    {
        // Removes the key itself with everything below it.
        ASSERT_EQ(RegDeleteTreeW(scratch.root(), scratch.path().c_str()), ERROR_SUCCESS);
    }

    PlatformLogRecorder log;
    ScratchRegistryKey scratch;
    std::shared_ptr<ArmCountingKeyImpl> impl = std::make_shared<ArmCountingKeyImpl>();
    // Before the monitor, so gone after it: its worker may still be inside
    // the callback when a test's last check has passed.
    Callback callback;
    ProbeMonitor monitor{impl};

private:
    int m_changes = 0;
};

} // namespace

TEST_F(MonitoredRegKeyTest, ChangeByAnotherThreadWakesTheCallbackEveryTime)
{
    ASSERT_TRUE(start(callback));

    changeWhenArmed(1);
    ASSERT_TRUE(callback.calls.waitFor(1, kDeadline));
    EXPECT_NE(callback.thread.load(), std::this_thread::get_id());

    changeWhenArmed(2);
    ASSERT_TRUE(callback.calls.waitFor(2, kDeadline));

    EXPECT_TRUE(monitor.stop());
    ASSERT_TRUE(monitor.ended.waitFor(1, kDeadline));
    EXPECT_EQ(monitor.lastResult(), 0u);
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(MonitoredRegKeyTest, ChangesWhileTheCallbackRunsAreReportedAfterReArming)
{
    callback.holdFirst = true;
    ASSERT_TRUE(start(callback));

    changeWhenArmed(1);
    ASSERT_TRUE(callback.calls.waitFor(1, kDeadline));
    DWORD value = 100;
    scratch.setRaw(L"Other", REG_DWORD, &value, sizeof value);
    scratch.setRaw(L"Third", REG_DWORD, &value, sizeof value);
    callback.release.increment();

    ASSERT_TRUE(impl->armed.waitFor(2, kDeadline));
    if (runningUnderWine()) {
        // Wine forgets a change made while the key is not armed; only a change
        // after re-arming can show that watching goes on.
        changeWhenArmed(2);
    }
    EXPECT_TRUE(callback.calls.waitFor(2, kDeadline));
}

TEST_F(MonitoredRegKeyTest, StopWhileWaitingEndsTheWorkerWithoutACallback)
{
    ASSERT_TRUE(start(callback));
    ASSERT_TRUE(impl->armed.waitFor(1, kDeadline));

    EXPECT_TRUE(monitor.stop());
    EXPECT_EQ(monitor.ended.value(), 1);
    EXPECT_EQ(monitor.lastResult(), 0u);
    EXPECT_EQ(callback.calls.value(), 0);

    // No worker left: stopping again changes nothing.
    EXPECT_TRUE(monitor.stop());
    EXPECT_EQ(monitor.entered.value(), 1);
}

TEST_F(MonitoredRegKeyTest, StartingAgainStopsTheFirstWorkerBeforeTheSecondWatches)
{
    Callback first, second;
    ASSERT_TRUE(start(first));
    ASSERT_TRUE(impl->armed.waitFor(1, kDeadline));

    ASSERT_TRUE(start(second));
    EXPECT_EQ(monitor.ended.value(), 1);
    EXPECT_EQ(monitor.lastResult(), 0u);

    changeWhenArmed(2);
    ASSERT_TRUE(second.calls.waitFor(1, kDeadline));
    EXPECT_EQ(first.calls.value(), 0);
}

namespace {

struct ThrowCase {
    const char* name;
    std::function<void()> raise;
    int32_t line;
    const wchar_t* message;
};

void PrintTo(const ThrowCase& c, std::ostream* os)
{
    *os << c.name;
}

class MonitoredRegKeyThrowTest : public MonitoredRegKeyTest, public ::testing::WithParamInterface<ThrowCase> {};

} // namespace

TEST_P(MonitoredRegKeyThrowTest, ThrowingCallbackIsLoggedOnceAndWatchingGoesOn)
{
    callback.body = [](int call) {
        if (call == 1)
            GetParam().raise();
    };
    ASSERT_TRUE(start(callback));

    changeWhenArmed(1);
    ASSERT_TRUE(log.waitForCount(1, kDeadline));
    changeWhenArmed(2);
    ASSERT_TRUE(callback.calls.waitFor(2, kDeadline));

    auto entries = log.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, 2u);
    EXPECT_EQ(entries[0].file, L"Registry\\monitored_reg_key");
    EXPECT_EQ(entries[0].function, L"Halvex::monitored_reg_key::registry_callback_thread");
    EXPECT_EQ(entries[0].line, GetParam().line);
    EXPECT_EQ(entries[0].message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Exceptions, MonitoredRegKeyThrowTest,
    ::testing::Values(
        ThrowCase{"RuntimeError", [] { throw std::runtime_error("value out of range"); }, 183,
                  L"STL exception caught while invoking registry key monitor callback: value out of range."},
        ThrowCase{"Integer", [] { throw 7; }, 187,
                  L"Unexpected exception caught while invoking registry key monitor callback."}),
    [](const ::testing::TestParamInfo<ThrowCase>& info) { return std::string(info.param.name); });

TEST_F(MonitoredRegKeyTest, StopFromTheCallbackIsRefusedAndTheWorkerEndsAtItsNextWait)
{
    callback.body = [this](int) { monitor.stop(); };
    ASSERT_TRUE(start(callback));

    changeWhenArmed(1);
    ASSERT_TRUE(monitor.ended.waitFor(1, kDeadline));
    EXPECT_EQ(monitor.lastResult(), 0u);
    EXPECT_EQ(callback.calls.value(), 1);

    auto entries = log.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].line, 183);
    EXPECT_EQ(entries[0].message.rfind(L"STL exception caught while invoking registry key monitor callback: ", 0), 0u)
        << TestSupport::narrow(entries[0].message);
    EXPECT_TRUE(monitor.stop());
}

TEST_F(MonitoredRegKeyTest, KeyDeletedWhileTheCallbackRunsEndsTheWorkerWithTheArmingError)
{
    callback.holdFirst = true;
    ASSERT_TRUE(start(callback));

    changeWhenArmed(1);
    ASSERT_TRUE(callback.calls.waitFor(1, kDeadline));
    deleteWatchedKey();
    callback.release.increment();

    ASSERT_TRUE(monitor.ended.waitFor(1, kDeadline));
    // What the notification call returned, not the last error left behind.
    EXPECT_EQ(monitor.lastResult(), static_cast<uint32_t>(ERROR_KEY_DELETED));
    EXPECT_EQ(callback.calls.value(), 1);
    EXPECT_TRUE(log.entries().empty());
    EXPECT_TRUE(monitor.stop());

    // The handle still names the deleted key: watching it again ends at once.
    ASSERT_TRUE(start(callback));
    ASSERT_TRUE(monitor.ended.waitFor(2, kDeadline));
    EXPECT_EQ(monitor.lastResult(), static_cast<uint32_t>(ERROR_KEY_DELETED));
}

TEST_F(MonitoredRegKeyTest, KeyDeletedWhileWaitingLeavesTheMonitorStoppable)
{
    ASSERT_TRUE(start(callback));
    ASSERT_TRUE(impl->armed.waitFor(1, kDeadline));
    deleteWatchedKey();

    if (!runningUnderWine()) {
        // Deleting the key wakes the watcher; re-arming then fails.
        ASSERT_TRUE(monitor.ended.waitFor(1, kDeadline));
        EXPECT_EQ(monitor.lastResult(), static_cast<uint32_t>(ERROR_KEY_DELETED));
    }
    // Wine does not report the deletion: the worker waits until stopped.
    EXPECT_TRUE(monitor.stop());
    EXPECT_EQ(monitor.ended.value(), 1);
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(MonitoredRegKeyTest, StartRefusesAClosedKeyAndAnEmptyCallback)
{
    EXPECT_FALSE(monitor.start({}, false, kFilter));

    EXPECT_EQ(monitor.close(), ERROR_SUCCESS);
    EXPECT_FALSE(start(callback));

    ProbeMonitor neverOpened;
    EXPECT_FALSE(neverOpened.start([] {}, false, kFilter));

    EXPECT_EQ(monitor.entered.value(), 0);
    EXPECT_EQ(neverOpened.entered.value(), 0);
}

namespace {

// Hands out real events except for the one call that is to fail.
class FailingEventFactory : public CEventFactory {
public:
    explicit FailingEventFactory(int failingCall) : m_failingCall(failingCall) {}

    CEventHandle CreateAutoResetEvent() override
    {
        if (++m_calls == m_failingCall) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return CEventHandle();
        }
        return CEventFactory::CreateAutoResetEvent();
    }

private:
    int m_failingCall;
    int m_calls = 0;
};

class MonitoredRegKeyEventTest : public ::testing::TestWithParam<int> {};

} // namespace

TEST_P(MonitoredRegKeyEventTest, StartAnswersFalseWhenAnEventCannotBeHad)
{
    ScratchRegistryKey scratch;
    auto impl = std::make_shared<ArmCountingKeyImpl>();
    Callback callback; // outlives the monitor, whose worker calls it
    ProbeMonitor monitor(impl, std::make_shared<FailingEventFactory>(GetParam()));
    ASSERT_EQ(monitor.open(scratch.root(), scratch.path().c_str(), KEY_READ), ERROR_SUCCESS);

    EXPECT_FALSE(monitor.start([&callback] { callback(); }, false, kFilter));
    EXPECT_EQ(monitor.entered.value(), 0);
    EXPECT_TRUE(monitor.stop());

    // The next events can be had: watching starts.
    ASSERT_TRUE(monitor.start([&callback] { callback(); }, false, kFilter));
    ASSERT_TRUE(impl->armed.waitFor(1, kDeadline));
    DWORD value = 1;
    scratch.setRaw(L"Value", REG_DWORD, &value, sizeof value);
    EXPECT_TRUE(callback.calls.waitFor(1, kDeadline));
}

INSTANTIATE_TEST_SUITE_P(FailingCall, MonitoredRegKeyEventTest, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? std::string("StopEvent") : std::string("NotifyEvent");
                         });

TEST_F(MonitoredRegKeyTest, OpenCreateAndCloseStopAWatchingWorkerFirst)
{
    ASSERT_TRUE(start(callback));
    ASSERT_TRUE(impl->armed.waitFor(1, kDeadline));

    DWORD disposition = 0;
    ASSERT_EQ(monitor.create(scratch.handle(), L"Child", nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                             nullptr, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    EXPECT_EQ(monitor.ended.value(), 1);

    // Watching the new key: a change to the child wakes the callback.
    ASSERT_TRUE(start(callback));
    ASSERT_TRUE(impl->armed.waitFor(2, kDeadline));
    HKEY child = nullptr;
    ASSERT_EQ(RegOpenKeyExW(scratch.handle(), L"Child", 0, KEY_SET_VALUE, &child), ERROR_SUCCESS);
    DWORD value = 5;
    RegSetValueExW(child, L"Value", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(child);
    ASSERT_TRUE(callback.calls.waitFor(1, kDeadline));

    EXPECT_EQ(monitor.open(scratch.root(), scratch.path().c_str(), KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(monitor.ended.value(), 2);

    ASSERT_TRUE(start(callback));
    ASSERT_TRUE(impl->armed.waitFor(3, kDeadline));
    EXPECT_EQ(monitor.close(), ERROR_SUCCESS);
    EXPECT_EQ(monitor.ended.value(), 3);
    EXPECT_FALSE(start(callback));
}
