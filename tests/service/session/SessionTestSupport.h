#pragma once
// What the session tests share: a dispatcher whose steps the test scripts,
// the session API double, log lines and telemetry read back, and the bus
// double on which the system monitor's messages travel.
#include "LogFile.h"
#include "Logging/CLoggingIf.h"
#include "RawBusPeer.h"
#include "TelemetryServerFixture.h"
#include "WaitUntil.h"
#include "WaitableCounter.h"
#include "WtsDoubleControl.h"
#include "alert/Alert.h"
#include "dispatch/AlertDispatcher.h"
#include "message/MessageBus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace SessionTest {

using Record = std::map<std::wstring, std::wstring>;

// Stands in for the dispatcher: process refuses the instance ids it was told
// to, show records what it got and answers `showResult`, wait returns at once
// (or, when holding, once the test finishes the alert or a delete takes it
// down), deleteAlert and dismissCurrent take the current alert down.
class ScriptedDispatcher : public Kest::AlertDispatcher {
public:
    explicit ScriptedDispatcher(std::shared_ptr<Ostrand::MessageBus> bus);
    ~ScriptedDispatcher() override;

    bool process(const std::shared_ptr<Kest::Alert>& alert) override;
    ShowResult tryShow(std::shared_ptr<Kest::Alert> alert) override;
    bool wait() override;
    bool deleteAlert(const std::wstring& instanceId) override;
    bool dismissCurrent() override;

    void suppress(const std::wstring& instanceId);
    void setShowResult(bool result);
    void setWaitResult(bool result);
    // While holding, wait blocks until finishCurrent or a dismissal.
    void holdOnScreen(bool hold);
    void finishCurrent();
    // The next show or wait throws instead of answering: a std::runtime_error or the int 42.
    enum class Throw { None, StandardFromShow, NonStandardFromWait };
    void throwNext(Throw what);
    // The instance ids of the alerts the session gave up on, in order.
    void abandon(const std::shared_ptr<Kest::Alert>& alert) override;
    std::vector<std::wstring> abandoned() const;

    // The instance ids shown so far, in order ("" for an empty alert).
    std::vector<std::wstring> shown() const;
    bool waitForShown(size_t count, std::chrono::milliseconds timeout = TestSupport::kGenerousWait) const;
    // True once wait has begun for the alert shown last.
    bool waitForWaiting(std::chrono::milliseconds timeout = TestSupport::kGenerousWait) const;
    int dismissals() const;
    std::vector<std::wstring> deleted() const;

private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::set<std::wstring> m_suppressed;
    bool m_showResult = true;
    bool m_waitResult = true;
    bool m_hold = false;
    bool m_waiting = false;
    std::shared_ptr<Kest::Alert> m_current;
    std::vector<std::wstring> m_shown;
    std::vector<std::wstring> m_deleted;
    std::vector<std::wstring> m_abandoned;
    Throw m_throw = Throw::None;
    int m_dismissals = 0;
};

class SessionFixture : public ::testing::Test {
protected:
    void SetUp() override;

    // Every event of that id sent so far, oldest first.
    std::vector<Record> events(const std::wstring& id) const;
    std::shared_ptr<Kest::Alert> makeAlert(const std::wstring& alertId, const std::wstring& instanceId,
                                           int32_t priority = 3, const std::wstring& title = L"");
    // A line at that level, from that source file, whose text holds `text`.
    bool logged(uint32_t level, const std::wstring& file, const std::wstring& text) const;
    bool waitForLine(uint32_t level, const std::wstring& file, const std::wstring& text,
                     std::chrono::milliseconds timeout = TestSupport::kGenerousWait) const;
    // The status line (written by `file`) and the one event of an alert
    // refused as a duplicate of a waiting one.
    void expectDuplicateReported(const std::wstring& file, const std::wstring& alertId,
                                 const std::wstring& instanceId) const;
    // Waits until the double has been asked for the session list more than `calls` times.
    bool waitForListing(uint32_t calls, std::chrono::milliseconds timeout = TestSupport::kGenerousWait) const;

    // Made first: nothing may log before it.
    TestSupport::LogFile log;
    TestSupport::TelemetryServerFixture telemetry;
    WtsDouble::WtsDoubleControl sessions;
    BusDouble::RawBusPeer monitor;
    std::shared_ptr<Ostrand::MessageBus> bus;
};

} // namespace SessionTest
