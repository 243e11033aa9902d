#pragma once
#include "executor/TaskQueue.h"

#include "Thread/AsyncJob.h"

#include <atomic>
#include <memory>

namespace Kest {

// The alert service's own thread: runs posted tasks one at a time, in order,
// so that bus callback threads only hand work on. Runs from construction
// until shutdown; destruction waits for the thread to end.
class ServiceExecutor {
public:
    ServiceExecutor();
    ~ServiceExecutor();
    ServiceExecutor(const ServiceExecutor&) = delete;
    ServiceExecutor& operator=(const ServiceExecutor&) = delete;

    void post(TaskQueue::Task task);
    // The thread ends once the task running now (if any) has returned.
    void shutdown();
    // After a shutdown: waits for the thread to end, then runs a new one on
    // an empty queue. Nothing happens while the executor runs.
    void restart();

private:
    void executeCallback();

    TaskQueue m_queue;
    std::atomic<bool> m_exit{false};
    std::unique_ptr<Halvex::AsyncJob> m_job;
};

} // namespace Kest
