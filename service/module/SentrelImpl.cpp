#include "module/SentrelImpl.h"

#include "plugin/PluginRegistrar.h"
#include "session/ActiveSession.h"
#include "session/AlertGlobalSession.h"
#include "session/AlertSessionFactory.h"
#include "session/AlertUserSession.h"
#include "viewer/ViewerRegistrar.h"

#include "Logging/Log.h"
#include "Registry/monitored_reg_key.h"

#include <cerrno>
#include <cwchar>

namespace Kest {

namespace {
const wchar_t kSource[] = L"SentrelImpl";

const wchar_t kShowPattern[] = L"Sentrel.Alert.Show..+";
const wchar_t kDeletePattern[] = L"Sentrel.Alert.Delete..+";
const wchar_t kGetIdPattern[] = L"Sentrel.Alert.GetId";
const wchar_t kLogoffPattern[] = L"SystemMonitor.UserSession.Logoff";
const wchar_t kQueueStatusPattern[] = L"Sentrel.Queue.GetStatus";
} // namespace

SentrelImpl::SentrelImpl(std::shared_ptr<ViewerRegistrar> viewers, std::shared_ptr<PluginRegistrar> plugins,
                         std::shared_ptr<AlertSessionFactory> sessionFactory, std::shared_ptr<SystemClock> clock)
    : Ostrand::BaseModule(nullptr),
      m_viewers(std::move(viewers)),
      m_plugins(std::move(plugins)),
      m_sessionFactory(std::move(sessionFactory)),
      m_clock(std::move(clock))
{
    if (!m_viewers)
        m_viewers = std::make_shared<ViewerRegistrar>(nullptr, nullptr);
    if (!m_plugins)
        m_plugins = std::make_shared<PluginRegistrar>(nullptr);
    if (!m_sessionFactory)
        m_sessionFactory = std::make_shared<AlertSessionFactory>();
    if (!m_clock)
        m_clock = std::make_shared<SystemClock>();
    m_globalSession = m_sessionFactory->createGlobalSession(m_viewers, m_plugins);
    detectFactoryMode();
}

SentrelImpl::~SentrelImpl()
{
    // Without an uninitialize the bus would still call the handlers of a
    // module being destroyed, and the executor would wait for work forever.
    if (m_handlersSubscribed)
        unsubscribeHandlers();
    m_executor.shutdown();
    // Every session stops at once; each then waits at most for its own show
    // in progress and its own Delete of the alert on screen, which its
    // thread makes beside the others', not after them.
    for (const auto& entry : m_userSessions)
        beginEndOf(entry.second);
    m_userSessions.clear();
}

void SentrelImpl::beginEndOf(const std::shared_ptr<AlertSession>& session)
{
    if (const auto user = std::dynamic_pointer_cast<AlertUserSession>(session))
        user->beginEnd();
}

MODULE_STATUS SentrelImpl::initialize()
{
    // An uninitialize before, or between two initializations, ended the
    // executor: requests would be accepted and never answered.
    m_executor.restart();
    setupHandlers();
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS SentrelImpl::start()
{
    m_viewers->start();
    m_plugins->start();
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS SentrelImpl::stop()
{
    m_viewers->stop();
    m_plugins->stop();
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS SentrelImpl::uninitialize()
{
    cleanupHandlers();
    return MODULE_STATUS_SUCCESS;
}

void SentrelImpl::setupHandlers()
{
    using std::placeholders::_1;
    m_handlers[kShowPattern] = std::bind(&SentrelImpl::onShowAlertMessage, this, _1);
    m_handlers[kDeletePattern] = std::bind(&SentrelImpl::onDeleteAlertMessage, this, _1);
    m_handlers[kGetIdPattern] = std::bind(&SentrelImpl::getAlertIdHandler, this, _1);
    m_handlers[kLogoffPattern] = std::bind(&SentrelImpl::handleSessionLogoff, this, _1);
    m_handlers[kQueueStatusPattern] = std::bind(&SentrelImpl::getQueueStatusHandler, this, _1);
    for (const auto& entry : m_handlers) {
        const MODULE_STATUS status = subscribeFilter(entry.first, entry.first, entry.second);
        if (status != MODULE_STATUS_SUCCESS)
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Kest::SentrelImpl::setupHandlers",
                    L"Unable to subscribe to message %ls : returned %lu.", entry.first.c_str(),
                    static_cast<unsigned long>(status));
    }
    m_handlersSubscribed = true;
}

void SentrelImpl::cleanupHandlers()
{
    unsubscribeHandlers();
    m_executor.shutdown();
}

void SentrelImpl::unsubscribeHandlers()
{
    for (const auto& entry : m_handlers) {
        const MODULE_STATUS status = unsubscribe(entry.first);
        if (status != MODULE_STATUS_SUCCESS)
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Kest::SentrelImpl::cleanupHandlers",
                    L"Unable to unsubscribe to message %ls : returned %lu.", entry.first.c_str(),
                    static_cast<unsigned long>(status));
    }
    m_handlersSubscribed = false;
}

bool SentrelImpl::parseInstanceId(const std::wstring& messageName, std::wstring& instanceId) const
{
    const size_t dot = messageName.rfind(L'.');
    if (dot == std::wstring::npos)
        return false;
    const std::wstring text = messageName.substr(dot + 1);
    // The standard conversion: leading blanks and a sign pass, reading stops
    // at the first non-digit; unsigned long is 32 bits on this platform.
    const wchar_t* begin = text.c_str();
    wchar_t* end = nullptr;
    errno = 0;
    const unsigned long number = std::wcstoul(begin, &end, 10);
    if (end == begin || errno == ERANGE)
        return false;
    if (number > m_instanceCounter.load())
        return false;
    instanceId = text;
    return true;
}

bool SentrelImpl::deleteAlert(const std::wstring& instanceId, const std::wstring& alertId)
{
    if (m_globalSession && m_globalSession->deleteAlert(instanceId, alertId)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, L"Kest::SentrelImpl::deleteAlert",
                L"Alert removed from global queue.");
        return true;
    }
    std::lock_guard<std::mutex> lock(m_sessionsMutex);
    for (const auto& entry : m_userSessions) {
        if (entry.second && entry.second->deleteAlert(instanceId, alertId)) {
            ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, L"Kest::SentrelImpl::deleteAlert",
                    L"Alert removed from user session.");
            return true;
        }
    }
    return false;
}

bool SentrelImpl::isQueueIdle()
{
    std::lock_guard<std::mutex> lock(m_sessionsMutex);
    if (m_globalSession && !m_globalSession->isEmpty())
        return false;
    for (const auto& entry : m_userSessions) {
        // Only a user session keeps a queue and a screen to ask about.
        const auto user = std::dynamic_pointer_cast<AlertUserSession>(entry.second);
        if (user && (!user->isEmpty() || user->isBusy()))
            return false;
    }
    return true;
}

std::shared_ptr<AlertSession> SentrelImpl::findOrCreateUserSession(uint32_t sessionId)
{
    const auto found = m_userSessions.find(sessionId);
    if (found != m_userSessions.end())
        return found->second;
    std::shared_ptr<AlertSession> session =
        m_sessionFactory->createUserSession(sessionId, m_viewers, m_plugins, m_globalSession);
    if (session)
        m_userSessions[sessionId] = session;
    return session;
}

void SentrelImpl::startActiveSession()
{
    const wchar_t kFunction[] = L"Kest::SentrelImpl::startActiveSession";
    const ActiveSession active = findActiveSession();
    if (!active.enumerated) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kFunction, L"Failed to EnumerateSessions. Error: %lu.",
                static_cast<unsigned long>(active.error));
        return;
    }
    if (!active.found || active.sessionId == 0) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, kFunction, L"No active session was found.");
        return;
    }
    if (m_userSessions.count(active.sessionId) != 0)
        return;
    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, kFunction,
            L"Creating session for the active session. Session id: %lu.",
            static_cast<unsigned long>(active.sessionId));
    findOrCreateUserSession(active.sessionId);
}

} // namespace Kest
