#pragma once
#include "alert/AlertQueue.h"
#include "alert/AlertTimeScale.h"
#include "message/MessageBus.h"
#include "session/AlertSession.h"

#include <condition_variable>
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace Kest {

class AlertDispatcher;
class AlertGlobalSession;
class DispatchTurns;
class PluginRegistrar;
class ViewerRegistrar;

// Shows the alerts of one Windows user session, one at a time, while that
// session is the active one, from its own queue and the global one.
class AlertUserSession : public AlertSession {
public:
    // Without a dispatcher one is made from the two registrars; without a bus
    // the session opens a connection of its own. The time scale shortens the
    // wait after a log-on (tests); without one it takes real time. Sessions
    // that share `turns` never show alerts for one session id at once;
    // without it the session keeps turns of its own.
    AlertUserSession(uint32_t sessionId, std::shared_ptr<ViewerRegistrar> viewers,
                     std::shared_ptr<PluginRegistrar> plugins, std::shared_ptr<AlertGlobalSession> global,
                     std::shared_ptr<AlertDispatcher> dispatcher = nullptr,
                     std::shared_ptr<Ostrand::MessageBus> bus = nullptr,
                     std::shared_ptr<AlertTimeScale> timeScale = nullptr,
                     std::shared_ptr<DispatchTurns> turns = nullptr);
    // Begins the end, then waits for the dispatch thread: at most the show
    // in progress and the taking down of an alert on screen.
    ~AlertUserSession() override;

    // The session's end without the wait: no further alert is tried, the
    // outcome wait in progress ends, and neither session events nor global
    // alerts wake it any more. Returns at once; the destructor does it first.
    void beginEnd();

    void queueAlert(std::shared_ptr<Alert> alert, bool& suppressed) override;
    bool deleteAlert(const std::wstring& instanceId, const std::wstring& alertId) override;

    virtual bool isEmpty();
    virtual bool isBusy();
    bool isActiveSession();

    // The messages of the system monitor after which the session asks again
    // whether it is the active one.
    static const wchar_t* const kSessionEvents[3];

private:
    struct WakeUp;

    void dispatchThread();
    uint64_t startDelay();
    // Waits, the session mutex held by `session` except while waiting, until
    // there is something to show and this session is the active one; false
    // when the session stops.
    bool waitForWork(std::unique_lock<std::mutex>& session);
    bool hasWork();
    // `global`: whether it came from the global queue.
    std::shared_ptr<Alert> pickAlert(bool& global);
    // One alert: picked (into `alert`, which the caller lets go of), shown
    // and, when on screen, waited for with the session mutex released.
    void showNext(std::unique_lock<std::mutex>& session, std::shared_ptr<Alert>& alert);
    // An alert the dispatcher did not try because the session ends: a global
    // one goes back to the global queue for the next active session, an own
    // one back to this queue, released with it, neither shown nor answered.
    // The session mutex is held.
    void handBack(const std::shared_ptr<Alert>& alert, bool global);
    // Logs what broke off the handling of `alert` and ends the alert with an
    // outcome all the same; the session mutex is held.
    void abandonAlert(const std::shared_ptr<Alert>& alert, std::exception_ptr error) noexcept;
    void unsubscribeEvents();

    uint32_t m_sessionId;
    std::shared_ptr<ViewerRegistrar> m_viewers;
    std::shared_ptr<PluginRegistrar> m_plugins;
    std::shared_ptr<AlertGlobalSession> m_global;
    std::shared_ptr<AlertDispatcher> m_dispatcher;
    std::shared_ptr<Ostrand::MessageBus> m_bus;
    std::shared_ptr<AlertTimeScale> m_timeScale;
    std::shared_ptr<DispatchTurns> m_turns;
    std::mutex m_mutex;
    AlertQueue m_queue;
    // Set without the session mutex, which a show in progress holds: the
    // dispatch thread tests it after every show before it picks the next.
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_busy{true};
    // Shared with the bus and global-session callbacks, so that a late wake-up
    // never reaches a destroyed session.
    std::shared_ptr<WakeUp> m_wakeUp;
    uint64_t m_globalToken = 0;
    std::mutex m_startDelayMutex;
    std::condition_variable m_startDelaySignal;
    bool m_startDelayOver = false;
    std::wstring m_aliasSuffix;
    std::thread m_thread;
};

} // namespace Kest
