#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace Kest {

// The executor's work: tasks posted from any thread, handed out one at a time
// in posting order until the queue is stopped.
class TaskQueue {
public:
    using Task = std::function<uint32_t()>;

    // Appends the task while the queue accepts; afterwards drops it silently.
    void post(Task task);
    // Waits for the next task; false once the queue is stopped (queued tasks
    // are then never handed out).
    bool pop(Task& task);
    // Stops the queue and wakes every waiter.
    void stop();
    // Accepts and hands out tasks again, starting empty: what was left when
    // the queue stopped is never run.
    void reopen();

private:
    std::deque<Task> m_tasks;
    std::mutex m_mutex;
    std::condition_variable m_notEmpty;
    bool m_stopped = false;
    bool m_accepting = true;
};

} // namespace Kest
