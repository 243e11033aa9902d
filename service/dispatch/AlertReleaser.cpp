#include "dispatch/AlertReleaser.h"

#include <system_error>
#include <utility>

namespace Kest {

AlertReleaser::~AlertReleaser()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_changed.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    // Nothing is left when the thread ran; only alerts it never saw remain.
    m_held.clear();
}

void AlertReleaser::release(std::shared_ptr<Alert> alert)
{
    if (!alert)
        return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread([this]() { run(); });
            } catch (const std::system_error&) {
                return; // the reference goes with this frame
            }
        }
        m_held.push_back(std::move(alert));
    }
    m_changed.notify_one();
}

void AlertReleaser::run()
{
    std::unique_lock<std::mutex> guard(m_lock);
    for (;;) {
        m_changed.wait(guard, [this]() { return m_stopping || !m_held.empty(); });
        if (m_held.empty())
            return; // stopping, and everything handed over is gone
        std::shared_ptr<Alert> alert = std::move(m_held.front());
        m_held.pop_front();
        guard.unlock();
        alert.reset();
        guard.lock();
    }
}

} // namespace Kest
