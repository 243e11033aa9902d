#pragma once
// A gate a thread waits at until the test opens it.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace TestSupport {

class Gate {
public:
    void open()
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_open = true;
        }
        m_changed.notify_all();
    }
    // False when the gate stayed shut for `timeout`.
    bool pass(std::chrono::milliseconds timeout = std::chrono::seconds(60))
    {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_changed.wait_for(guard, timeout, [this] { return m_open; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_open = false;
};

} // namespace TestSupport
