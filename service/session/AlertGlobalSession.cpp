#include "session/AlertGlobalSession.h"

#include "dispatch/AlertDispatcher.h"
#include "telemetry/AlertStatusLines.h"
#include "telemetry/AlertTelemetry.h"

#include "Logging/Log.h"

#include <vector>

namespace Kest {

namespace {

const wchar_t kSource[] = L"AlertGlobalSession";

} // namespace

AlertGlobalSession::AlertGlobalSession(std::shared_ptr<ViewerRegistrar> viewers,
                                       std::shared_ptr<PluginRegistrar> plugins,
                                       std::shared_ptr<AlertDispatcher> dispatcher)
    : m_viewers(std::move(viewers)), m_plugins(std::move(plugins)), m_dispatcher(std::move(dispatcher))
{
    if (!m_dispatcher)
        m_dispatcher = std::make_shared<AlertDispatcher>(m_viewers, m_plugins);
}

AlertGlobalSession::~AlertGlobalSession() = default;

void AlertGlobalSession::queueAlert(std::shared_ptr<Alert> alert, bool& suppressed)
{
    suppressed = true;
    if (!alert) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Kest::AlertGlobalSession::queueAlert",
                L"No alert to queue. Returning.");
        return;
    }
    // The plugin may rewrite the information: the reports name the request.
    const std::wstring alertId = alert->getInfo().alertId;
    const std::wstring instanceId = alert->getInfo().instanceId;
    const std::wstring product = alert->getInfo().product;

    if (!m_dispatcher->process(alert)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, L"Kest::AlertGlobalSession::queueAlert",
                L"Plugin suppressed the alert. Alert id: %ls, Instance: %ls.", alertId.c_str(), instanceId.c_str());
        return;
    }

    std::vector<std::function<void()>> wakeUps;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (!m_queue.insert(alert)) {
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Kest::AlertGlobalSession::queueAlert",
                    StatusLine::kSuppressedDuplicate, alertId.c_str(), instanceId.c_str());
            AlertTelemetry::sendSuppressedDuplicate(alertId, product);
            return;
        }
        wakeUps.reserve(m_wakeUps.size());
        for (const auto& entry : m_wakeUps)
            wakeUps.push_back(entry.second);
    }
    suppressed = false;
    // Without the lock: a user session that wakes up asks this session first.
    for (const auto& wakeUp : wakeUps)
        wakeUp();
}

bool AlertGlobalSession::deleteAlert(const std::wstring& instanceId, const std::wstring& alertId)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_queue.remove(instanceId))
        return false;
    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, L"Kest::AlertGlobalSession::deleteAlert",
            StatusLine::kDelete, alertId.c_str(), instanceId.c_str());
    AlertTelemetry::sendAlertDelete(alertId);
    return true;
}

bool AlertGlobalSession::hasPriorityOver(const std::shared_ptr<Alert>& userFront)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    const std::shared_ptr<Alert> front = m_queue.peek();
    if (!front)
        return false;
    if (!userFront)
        return true;
    if (front->hasPriorityOver(*userFront))
        return true;
    // Among equals the older goes first, whichever queue holds it.
    return front->getInfo().priority == userFront->getInfo().priority &&
           front->getCreationTime() < userFront->getCreationTime();
}

std::shared_ptr<Alert> AlertGlobalSession::popAlert()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_queue.pop();
}

bool AlertGlobalSession::isEmpty()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_queue.count() == 0;
}

void AlertGlobalSession::registerSessionCallback(uint32_t sessionId, std::function<void()> callback)
{
    if (!callback)
        return;
    std::lock_guard<std::mutex> guard(m_mutex);
    m_wakeUps.emplace(sessionId, std::move(callback));
}

void AlertGlobalSession::unregisterSessionCallback(uint32_t sessionId)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_wakeUps.erase(sessionId);
}

} // namespace Kest
