#include "session/AlertUserSession.h"

#include "dispatch/AlertDispatcher.h"
#include "message/MessageBusClient.h"
#include "session/ActiveSession.h"
#include "session/AlertGlobalSession.h"
#include "session/DispatchTurns.h"
#include "session/SessionStartDelay.h"
#include "session/SessionSteps.h"
#include "telemetry/AlertStatusLines.h"
#include "telemetry/AlertTelemetry.h"

#include "Logging/Log.h"

#include <exception>

namespace Kest {

namespace {

const wchar_t kSource[] = L"AlertUserSession";

uint64_t nextSessionNumber()
{
    static std::atomic<uint64_t> number{0};
    return ++number;
}

} // namespace

const wchar_t* const AlertUserSession::kSessionEvents[3] = {
    L"SystemMonitor.UserSession.Console.Connect",
    L"SystemMonitor.UserSession.Remote.Connect",
    L"SystemMonitor.UserSession.Logon",
};

// A raised flag, not a bare notification: a wake-up that comes while the
// dispatch thread is between its test and its wait is still seen. It has a
// lock of its own so that no waker ever waits for a show in progress.
struct AlertUserSession::WakeUp {
    std::mutex lock;
    std::condition_variable signal;
    bool pending = false;

    void raise()
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            pending = true;
        }
        signal.notify_all();
    }
};

AlertUserSession::AlertUserSession(uint32_t sessionId, std::shared_ptr<ViewerRegistrar> viewers,
                                   std::shared_ptr<PluginRegistrar> plugins,
                                   std::shared_ptr<AlertGlobalSession> global,
                                   std::shared_ptr<AlertDispatcher> dispatcher,
                                   std::shared_ptr<Ostrand::MessageBus> bus,
                                   std::shared_ptr<AlertTimeScale> timeScale,
                                   std::shared_ptr<DispatchTurns> turns)
    : m_sessionId(sessionId),
      m_viewers(std::move(viewers)),
      m_plugins(std::move(plugins)),
      m_global(std::move(global)),
      m_dispatcher(std::move(dispatcher)),
      m_bus(std::move(bus)),
      m_timeScale(std::move(timeScale)),
      m_turns(std::move(turns)),
      m_wakeUp(std::make_shared<WakeUp>()),
      // Aliases of this session alone, so that sessions sharing a bus never
      // remove each other's subscriptions.
      m_aliasSuffix(L"#" + std::to_wstring(nextSessionNumber()))
{
    if (!m_dispatcher)
        m_dispatcher = std::make_shared<AlertDispatcher>(m_viewers, m_plugins);
    if (!m_bus)
        m_bus = std::make_shared<Ostrand::MessageBusClient>();
    if (!m_timeScale)
        m_timeScale = std::make_shared<AlertTimeScale>();
    if (!m_turns)
        m_turns = std::make_shared<DispatchTurns>();

    const std::shared_ptr<WakeUp> wakeUp = m_wakeUp;
    for (const wchar_t* name : kSessionEvents) {
        m_bus->subscribe(name, name + m_aliasSuffix, [wakeUp](std::shared_ptr<Ostrand::Message>) -> uint32_t {
            wakeUp->raise();
            return 0;
        });
    }
    if (m_global)
        m_globalToken = m_global->registerSessionCallback(m_sessionId, [wakeUp] { wakeUp->raise(); });
    try {
        m_thread = std::thread(&AlertUserSession::dispatchThread, this);
    } catch (...) {
        unsubscribeEvents();
        if (m_global)
            m_global->unregisterSessionCallback(m_sessionId, m_globalToken);
        throw;
    }
}

AlertUserSession::~AlertUserSession()
{
    beginEnd();
    // The thread finishes a show in progress and takes the alert on screen
    // down, which costs at most the viewer's Delete request; the wait for
    // that alert's outcome has ended already.
    if (m_thread.joinable())
        m_thread.join();
    // The alerts still queued go with the queue, neither shown nor answered.
}

void AlertUserSession::beginEnd()
{
    // Before anything that waits: the dispatch thread holds the session
    // mutex across a show and would otherwise go on to the next alert.
    if (m_stop.exchange(true))
        return;
    unsubscribeEvents();
    // Only this session's own registration: a session made again for the
    // same id may have taken its place.
    if (m_global)
        m_global->unregisterSessionCallback(m_sessionId, m_globalToken);
    {
        std::lock_guard<std::mutex> guard(m_startDelayMutex);
        m_startDelayOver = true;
    }
    m_startDelaySignal.notify_all();
    m_wakeUp->raise();
    m_turns->wake();
    // An alert on screen would hold the thread, and whoever ends the
    // session, for the rest of the alert's time-out: its wait ends now.
    try {
        m_dispatcher->stopWaiting();
    } catch (const std::exception& error) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Kest::AlertUserSession::beginEnd",
                L"Failed to end the wait for the alert on screen: %hs. Continuing.", error.what());
    }
}

void AlertUserSession::unsubscribeEvents()
{
    for (const wchar_t* name : kSessionEvents)
        m_bus->unsubscribe(name + m_aliasSuffix);
}

void AlertUserSession::queueAlert(std::shared_ptr<Alert> alert, bool& suppressed)
{
    const wchar_t function[] = L"Kest::AlertUserSession::queueAlert";
    suppressed = true;
    SessionSteps::RequestIds ids;
    if (!SessionSteps::admit(*m_dispatcher, alert, ids, kSource, function))
        return;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (!m_queue.insert(alert)) {
            SessionSteps::reportDuplicate(ids, kSource, function);
            return;
        }
    }
    suppressed = false;
    m_wakeUp->raise();
}

bool AlertUserSession::deleteAlert(const std::wstring& instanceId, const std::wstring& alertId)
{
    const wchar_t function[] = L"Kest::AlertUserSession::deleteAlert";
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_queue.remove(instanceId)) {
            SessionSteps::reportDelete(alertId, instanceId, kSource, function);
            return true;
        }
    }
    // Not waiting: perhaps on screen, which the dispatcher takes down.
    if (!m_dispatcher->deleteAlert(instanceId))
        return false;
    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, function, StatusLine::kDismissedByRequest, alertId.c_str(),
            instanceId.c_str());
    AlertTelemetry::sendAlertDelete(alertId);
    return true;
}

bool AlertUserSession::isEmpty()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_queue.count() == 0;
}

bool AlertUserSession::isBusy()
{
    return m_busy.load();
}

bool AlertUserSession::isActiveSession()
{
    const ActiveSession active = findActiveSession();
    if (!active.enumerated) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Kest::AlertUserSession::isActiveSession",
                L"Failed to EnumerateSessions. Error: %lu.", static_cast<unsigned long>(active.error));
        AlertTelemetry::sendUserSessionFailed(m_sessionId, active.error);
        return false;
    }
    if (!active.found) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Kest::AlertUserSession::isActiveSession",
                L"No active session was found.");
        return false;
    }
    return active.sessionId == m_sessionId;
}

uint64_t AlertUserSession::startDelay()
{
    const SessionLogon logon = SessionStartDelay::queryLogon(m_sessionId);
    if (logon.answer == SessionLogon::Answer::UnexpectedSize) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Kest::AlertUserSession::dispatchThread",
                L"Unexpected session info size, using default delay");
    } else if (logon.answer == SessionLogon::Answer::Failed) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Kest::AlertUserSession::dispatchThread",
                L"Failed to get session info (%lu), using default delay", static_cast<unsigned long>(logon.error));
    }
    return SessionStartDelay::seconds(logon, SessionStartDelay::now());
}

void AlertUserSession::dispatchThread()
{
    try {
        const uint64_t delay = startDelay();
        ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, L"Kest::AlertUserSession::dispatchThread",
                L"Starting user session alert thread for session %u with %lld delay", m_sessionId,
                static_cast<long long>(delay));
        {
            std::unique_lock<std::mutex> lock(m_startDelayMutex);
            m_startDelaySignal.wait_for(lock, m_timeScale->toWait(static_cast<int64_t>(delay)),
                                        [this] { return m_startDelayOver; });
        }

        // An old session of this id may still be ending its last show.
        if (m_turns->take(m_sessionId, [this] { return m_stop.load(); })) {
            struct Turn {
                DispatchTurns& turns;
                uint32_t sessionId;
                ~Turn() { turns.give(sessionId); }
            } turn{*m_turns, m_sessionId};

            std::unique_lock<std::mutex> session(m_mutex);
            // Tested after every show, failed or not, before the next pick.
            while (!m_stop) {
                m_busy = false;
                if (!waitForWork(session))
                    break;
                m_busy = true;
                std::shared_ptr<Alert> alert;
                // What goes wrong with one alert ends that alert, never the
                // thread: the session would answer every later request and
                // show nothing.
                try {
                    showNext(session, alert);
                } catch (...) {
                    if (!session.owns_lock())
                        session.lock();
                    abandonAlert(alert, std::current_exception());
                }
                // Should this be the last reference, the alert's end falls on
                // the dispatcher's releasing thread, not on this one.
                m_dispatcher->release(std::move(alert));
            }
            // The alert on screen goes down here rather than with the
            // dispatcher: sessions that end together take theirs down at
            // once, each on its own thread, and a session made again for
            // this id shows nothing before it is gone.
            session.unlock();
            m_dispatcher->dismissCurrent();
        }
    } catch (const std::exception& error) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Kest::AlertUserSession::dispatchThread",
                L"Alert thread of session %u failed: %hs. Ending the thread.", m_sessionId, error.what());
    }
    m_busy = false;
}

void AlertUserSession::showNext(std::unique_lock<std::mutex>& session, std::shared_ptr<Alert>& alert)
{
    bool global = false;
    alert = pickAlert(global);
    // A global alert names no session; the crash of this one ends it.
    if (alert)
        alert->setShowingSession(m_sessionId);
    const AlertDispatcher::ShowResult result = m_dispatcher->tryShow(alert);
    if (result == AlertDispatcher::ShowResult::NotTried) {
        handBack(alert, global);
        return;
    }
    if (result != AlertDispatcher::ShowResult::Shown) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Kest::AlertUserSession::dispatchThread",
                L"Failed to show alert.");
        return;
    }
    // Released while the alert is on screen, so that a delete request can
    // take it down.
    session.unlock();
    // An ending session takes its alert down itself.
    if (!m_dispatcher->wait() && !m_stop) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Kest::AlertUserSession::dispatchThread",
                L"Failed to wait for alert.");
        m_dispatcher->dismissCurrent();
    }
    session.lock();
}

void AlertUserSession::handBack(const std::shared_ptr<Alert>& alert, bool global)
{
    const wchar_t function[] = L"Kest::AlertUserSession::dispatchThread";
    const AlertInfo& info = alert->getInfo();
    if (global && m_global) {
        ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, function,
                L"Alert %ls, instance %ls was not shown before session %u ended. Putting it back in the global "
                L"queue.",
                info.alertId.c_str(), info.instanceId.c_str(), m_sessionId);
        // Whoever shows it next is the session whose crash ends it.
        alert->setShowingSession(0);
        m_global->putBack(alert);
        return;
    }
    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, function,
            L"Alert %ls, instance %ls was not shown before session %u ended. Releasing it with the alerts still "
            L"queued, neither shown nor answered.",
            info.alertId.c_str(), info.instanceId.c_str(), m_sessionId);
    m_queue.putBack(alert);
}

void AlertUserSession::abandonAlert(const std::shared_ptr<Alert>& alert, std::exception_ptr error) noexcept
{
    const wchar_t function[] = L"Kest::AlertUserSession::dispatchThread";
    const wchar_t failed[] = L"Failed to handle an alert of session %u: %hs. Ending the alert and going on.";
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& thrown) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, failed, m_sessionId, thrown.what());
    } catch (...) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, failed, m_sessionId, "an exception of unknown type");
    }
    try {
        m_dispatcher->abandon(alert);
    } catch (...) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                L"Failed to end the alert that could not be handled. Going on.");
    }
}

bool AlertUserSession::waitForWork(std::unique_lock<std::mutex>& session)
{
    for (;;) {
        // Wake-ups raised before this point are answered by the test below.
        {
            std::lock_guard<std::mutex> guard(m_wakeUp->lock);
            m_wakeUp->pending = false;
        }
        if (m_stop)
            return false;
        if (hasWork() && isActiveSession())
            return true;
        std::unique_lock<std::mutex> wake(m_wakeUp->lock);
        session.unlock();
        m_wakeUp->signal.wait(wake, [this] { return m_wakeUp->pending; });
        wake.unlock();
        session.lock();
    }
}

bool AlertUserSession::hasWork()
{
    return m_queue.count() != 0 || (m_global && !m_global->isEmpty());
}

std::shared_ptr<Alert> AlertUserSession::pickAlert(bool& global)
{
    global = false;
    const std::shared_ptr<Alert> own = m_queue.peek();
    if (!m_global)
        return m_queue.pop();
    // Another session may take the global front meanwhile: the pop then
    // gives the next one, or nothing.
    if (!own || m_global->hasPriorityOver(own)) {
        global = true;
        return m_global->popAlert();
    }
    return m_queue.pop();
}

} // namespace Kest
