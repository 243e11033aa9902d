#include "session/AlertGlobalSession.h"

#include "dispatch/AlertDispatcher.h"
#include "session/SessionSteps.h"

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
    const wchar_t function[] = L"Kest::AlertGlobalSession::queueAlert";
    suppressed = true;
    SessionSteps::RequestIds ids;
    if (!SessionSteps::admit(*m_dispatcher, alert, ids, kSource, function))
        return;

    std::vector<std::function<void()>> wakeUps;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (!m_queue.insert(alert)) {
            SessionSteps::reportDuplicate(ids, kSource, function);
            return;
        }
        wakeUps = wakeUpsLocked();
    }
    suppressed = false;
    wakeAll(wakeUps);
}

void AlertGlobalSession::putBack(std::shared_ptr<Alert> alert)
{
    if (!alert)
        return;
    std::vector<std::function<void()>> wakeUps;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_queue.putBack(std::move(alert));
        wakeUps = wakeUpsLocked();
    }
    wakeAll(wakeUps);
}

std::vector<std::function<void()>> AlertGlobalSession::wakeUpsLocked() const
{
    std::vector<std::function<void()>> wakeUps;
    wakeUps.reserve(m_wakeUps.size());
    for (const auto& entry : m_wakeUps)
        wakeUps.push_back(entry.second.callback);
    return wakeUps;
}

void AlertGlobalSession::wakeAll(const std::vector<std::function<void()>>& wakeUps)
{
    // Without the lock: a user session that wakes up asks this session first.
    for (const auto& wakeUp : wakeUps)
        wakeUp();
}

bool AlertGlobalSession::deleteAlert(const std::wstring& instanceId, const std::wstring& alertId)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_queue.remove(instanceId))
        return false;
    SessionSteps::reportDelete(alertId, instanceId, kSource, L"Kest::AlertGlobalSession::deleteAlert");
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

uint64_t AlertGlobalSession::registerSessionCallback(uint32_t sessionId, std::function<void()> callback)
{
    if (!callback)
        return 0;
    std::lock_guard<std::mutex> guard(m_mutex);
    const uint64_t token = ++m_lastToken;
    m_wakeUps[sessionId] = WakeUp{token, std::move(callback)};
    return token;
}

void AlertGlobalSession::unregisterSessionCallback(uint32_t sessionId, uint64_t token)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    const auto found = m_wakeUps.find(sessionId);
    if (found != m_wakeUps.end() && found->second.token == token)
        m_wakeUps.erase(found);
}

} // namespace Kest
