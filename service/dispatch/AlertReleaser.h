#pragma once
#include "alert/Alert.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace Kest {

// Lets go of alerts that are done with on a thread of its own, in the order
// they came. The last reference to an alert closes its bus connection, which
// takes a while; the dispatch thread hands it here instead of waiting for it
// before the next alert is shown.
class AlertReleaser {
public:
    AlertReleaser() = default;
    // Lets go of every alert still held, then ends its thread.
    ~AlertReleaser();
    AlertReleaser(const AlertReleaser&) = delete;
    AlertReleaser& operator=(const AlertReleaser&) = delete;

    // Takes the caller's reference. Without a thread of its own (it could
    // not be started) the reference goes here and now.
    void release(std::shared_ptr<Alert> alert);

private:
    void run();

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::shared_ptr<Alert>> m_held;
    bool m_stopping = false;
    std::thread m_thread; // started with the first alert
};

} // namespace Kest
