#include "WaitableCounter.h"

namespace TestSupport {

int WaitableCounter::increment()
{
    int now;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        now = ++m_count;
    }
    m_changed.notify_all();
    return now;
}

int WaitableCounter::value() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_count;
}

bool WaitableCounter::waitFor(int target, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_count >= target; });
}

} // namespace TestSupport
