#include "alert/AlertQueue.h"

namespace Kest {

AlertQueue::~AlertQueue()
{
    clear();
}

bool AlertQueue::insert(std::shared_ptr<Alert> alert)
{
    if (!alert)
        return false;
    std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& waiting : m_alerts) {
        if (waiting->isDuplicate(*alert))
            return false;
    }
    auto position = m_alerts.begin();
    while (position != m_alerts.end() && !alert->hasPriorityOver(**position))
        ++position;
    m_alerts.insert(position, std::move(alert));
    ++m_count;
    return true;
}

bool AlertQueue::putBack(std::shared_ptr<Alert> alert)
{
    if (!alert)
        return false;
    std::lock_guard<std::mutex> guard(m_lock);
    auto position = m_alerts.begin();
    while (position != m_alerts.end() &&
           ((*position)->hasPriorityOver(*alert) ||
            (!alert->hasPriorityOver(**position) && (*position)->getCreationTime() <= alert->getCreationTime())))
        ++position;
    m_alerts.insert(position, std::move(alert));
    ++m_count;
    return true;
}

bool AlertQueue::remove(const std::wstring& instanceId)
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto position = m_alerts.begin(); position != m_alerts.end(); ++position) {
        if ((*position)->getInfo().instanceId == instanceId) {
            m_alerts.erase(position);
            --m_count;
            return true;
        }
    }
    return false;
}

std::shared_ptr<Alert> AlertQueue::pop()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_alerts.empty())
        return nullptr;
    std::shared_ptr<Alert> front = std::move(m_alerts.front());
    m_alerts.pop_front();
    --m_count;
    return front;
}

std::shared_ptr<Alert> AlertQueue::peek()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_alerts.empty() ? nullptr : m_alerts.front();
}

uint64_t AlertQueue::count()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_count;
}

void AlertQueue::clear()
{
    std::list<std::shared_ptr<Alert>> released;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        released.swap(m_alerts);
        m_count = 0;
    }
    // Alerts are released outside the lock: their destructors talk to the bus.
}

} // namespace Kest
