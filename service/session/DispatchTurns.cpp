#include "session/DispatchTurns.h"

namespace Kest {

bool DispatchTurns::take(uint32_t sessionId, const std::function<bool()>& stopped)
{
    std::unique_lock<std::mutex> guard(m_lock);
    m_changed.wait(guard, [&] { return stopped() || m_held.count(sessionId) == 0; });
    if (stopped())
        return false;
    m_held.insert(sessionId);
    return true;
}

void DispatchTurns::give(uint32_t sessionId)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_held.erase(sessionId);
    }
    m_changed.notify_all();
}

void DispatchTurns::wake()
{
    // Taken so that a take between its test and its wait sees the change.
    { std::lock_guard<std::mutex> guard(m_lock); }
    m_changed.notify_all();
}

} // namespace Kest
