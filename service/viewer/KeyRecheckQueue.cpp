#include "viewer/KeyRecheckQueue.h"

#include "Logging/Log.h"

#include <exception>
#include <system_error>
#include <utility>

namespace Kest {

KeyRecheckQueue::KeyRecheckQueue(Recheck recheck) : m_recheck(std::move(recheck)) {}

KeyRecheckQueue::~KeyRecheckQueue()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
        m_order.clear();
        m_waiting.clear();
    }
    m_changed.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

bool KeyRecheckQueue::post(const std::wstring& key, Notice notice)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_stopping)
            return false;
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread([this]() { run(); });
            } catch (const std::system_error&) {
                return false;
            }
        }
        const auto waiting = m_waiting.find(key);
        if (waiting != m_waiting.end()) {
            waiting->second = notice;
            return true;
        }
        m_waiting.emplace(key, notice);
        m_order.push_back(key);
    }
    m_changed.notify_one();
    return true;
}

void KeyRecheckQueue::clear()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_order.clear();
    m_waiting.clear();
}

void KeyRecheckQueue::run()
{
    std::unique_lock<std::mutex> guard(m_lock);
    for (;;) {
        m_changed.wait(guard, [this]() { return m_stopping || !m_order.empty(); });
        if (m_stopping)
            return;
        const std::wstring key = std::move(m_order.front());
        m_order.pop_front();
        const auto waiting = m_waiting.find(key);
        const Notice latest = waiting->second;
        m_waiting.erase(waiting);
        // A notice of this key from now on queues it again.
        guard.unlock();
        try {
            m_recheck(key, latest);
        } catch (const std::exception& error) {
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, L"KeyRecheckQueue", L"Kest::KeyRecheckQueue::run",
                    L"Failed to look again at the key %ls: %hs. Going on.", key.c_str(), error.what());
        } catch (...) {
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, L"KeyRecheckQueue", L"Kest::KeyRecheckQueue::run",
                    L"Failed to look again at the key %ls: an exception of unknown type. Going on.", key.c_str());
        }
        guard.lock();
    }
}

} // namespace Kest
