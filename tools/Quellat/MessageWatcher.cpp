#include "MessageWatcher.h"

#include <algorithm>
#include <chrono>

namespace Kest {

namespace {

const int64_t kLongestWaitMs = 365LL * 24 * 60 * 60 * 1000;

} // namespace

MessageWatcher::MessageWatcher(std::shared_ptr<Ostrand::MessageBus> bus) : m_bus(std::move(bus)) {}

MessageWatcher::~MessageWatcher()
{
    if (m_watching)
        m_bus->unsubscribe(m_name);
}

MODULE_STATUS MessageWatcher::watch(const std::wstring& name)
{
    if (!m_bus)
        return MODULE_STATUS_INVALID_STATE;
    // One name at a time: a second watch replaces the first.
    if (m_watching)
        m_bus->unsubscribe(m_name);
    m_name = name;
    m_watching = true;
    return m_bus->subscribe(m_name, [this](std::shared_ptr<Ostrand::Message> message) {
        return onWatchedMessage(std::move(message));
    });
}

uint32_t MessageWatcher::onWatchedMessage(std::shared_ptr<Ostrand::Message> message)
{
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_received = true;
    }
    m_arrived.notify_all();
    message.reset();
    return 0;
}

bool MessageWatcher::waitFor(int64_t milliseconds)
{
    std::unique_lock<std::mutex> lock(m_lock);
    if (m_received || milliseconds <= 0)
        return m_received;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::min(milliseconds, kLongestWaitMs));
    return m_arrived.wait_until(lock, deadline, [this] { return m_received; });
}

} // namespace Kest
