#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace BusDouble {

// The delivery threads of one connection, started on demand. Tasks run in
// arrival order on one thread while they are quick; when the oldest waiting
// task has waited a stall period because every thread is busy (a callback
// waiting for a reply, say), one more thread starts, so no callback waits
// behind another forever.
class DeliveryPool {
public:
    explicit DeliveryPool(std::chrono::milliseconds stall = std::chrono::milliseconds(15), size_t maxThreads = 64);
    // Drops tasks not yet started and waits for running ones, except when
    // called on one of its own threads.
    ~DeliveryPool();
    DeliveryPool(const DeliveryPool&) = delete;
    DeliveryPool& operator=(const DeliveryPool&) = delete;

    void post(std::function<void()> task);

    // How often a thread of any pool of this process has come back from a
    // wait, for whatever reason (a task, the end, a timer, a spurious wake):
    // over a span in which nothing is posted it stays where it was.
    static uint64_t wakeups();

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace BusDouble
