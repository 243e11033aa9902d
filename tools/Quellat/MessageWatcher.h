#pragma once
#include "message/MessageBus.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace Kest {

// Waits for one named bus message. The subscription is made before the
// action that causes the message, so a message that arrives before the wait
// begins is not lost: the wait then answers at once.
class MessageWatcher {
public:
    explicit MessageWatcher(std::shared_ptr<Ostrand::MessageBus> bus);
    // Unsubscribes the watched name before the state the callback uses goes:
    // the bus waits for a delivery that is still running.
    virtual ~MessageWatcher();
    MessageWatcher(const MessageWatcher&) = delete;
    MessageWatcher& operator=(const MessageWatcher&) = delete;

    // Watches `name`, subscribed under the name as alias; the bus's status.
    MODULE_STATUS watch(const std::wstring& name);
    const std::wstring& name() const { return m_name; }

    // The subscription callback: marks the message as received and wakes
    // every waiter.
    uint32_t onWatchedMessage(std::shared_ptr<Ostrand::Message> message);

    // True once the message arrived, waiting at most `milliseconds` for it;
    // 0 or less does not wait. Waits beyond a year are cut to a year, where
    // the deadline still fits the clock.
    bool waitFor(int64_t milliseconds);

private:
    std::wstring m_name;
    std::shared_ptr<Ostrand::MessageBus> m_bus;
    bool m_received = false;
    bool m_watching = false;
    std::mutex m_lock;
    std::condition_variable m_arrived;
};

} // namespace Kest
