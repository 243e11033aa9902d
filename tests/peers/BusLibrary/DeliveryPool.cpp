#include "DeliveryPool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace BusDouble {

namespace {

std::atomic<uint64_t> g_wakeups{0};

// Waits until the condition holds, counting each return from the wait.
template <class Predicate>
void waitCounted(std::condition_variable& signal, std::unique_lock<std::mutex>& guard, Predicate ready)
{
    while (!ready()) {
        signal.wait(guard);
        g_wakeups.fetch_add(1, std::memory_order_relaxed);
    }
}

} // namespace

struct DeliveryPool::State {
    using Clock = std::chrono::steady_clock;
    struct Task {
        std::function<void()> run;
        Clock::time_point queued;
    };

    std::mutex lock;
    std::condition_variable changed;      // workers: a task or the end
    std::condition_variable monitorWake;  // the monitor: a stalled queue or the end
    std::deque<Task> queue;
    std::vector<std::thread> threads;
    std::thread monitor; // started when a task first waits behind busy threads
    size_t idle = 0; // workers free to take a task, counted from their start
    Clock::time_point nextStart; // one more thread at most once a stall period
    bool stopping = false;
    std::chrono::milliseconds stall;
    size_t maxThreads;

    // Caller holds the lock.
    void startWorker(const std::shared_ptr<State>& self)
    {
        ++idle;
        threads.emplace_back([self]() { self->work(self); });
    }

    // Caller holds the lock and has seen the queue stalled.
    void wakeMonitor(const std::shared_ptr<State>& self)
    {
        if (monitor.joinable())
            monitorWake.notify_one();
        else
            monitor = std::thread([self]() { self->watch(self); });
    }

    // Caller holds the lock. Only then can one more thread help, so only then
    // does the monitor need to look at the clock.
    bool stalled() const { return !queue.empty() && idle == 0 && threads.size() < maxThreads; }

    void work(const std::shared_ptr<State>& self)
    {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            waitCounted(changed, guard, [this]() { return stopping || !queue.empty(); });
            if (stopping)
                return;
            --idle;
            Task task = std::move(queue.front());
            queue.pop_front();
            if (stalled())
                wakeMonitor(self);
            guard.unlock();
            task.run();
            task.run = nullptr;
            guard.lock();
            ++idle;
        }
    }

    // Sleeps without a time-out while no task waits behind busy threads, so
    // an idle connection costs no wake-ups.
    void watch(const std::shared_ptr<State>& self)
    {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            waitCounted(monitorWake, guard, [this]() { return stopping || stalled(); });
            if (stopping)
                return;
            const Clock::time_point due = std::max(queue.front().queued + stall, nextStart);
            if (Clock::now() < due) {
                monitorWake.wait_until(guard, due, [this]() { return stopping; });
                g_wakeups.fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            startWorker(self);
            nextStart = Clock::now() + stall;
        }
    }
};

DeliveryPool::DeliveryPool(std::chrono::milliseconds stall, size_t maxThreads) : m_state(std::make_shared<State>())
{
    m_state->stall = stall;
    m_state->maxThreads = maxThreads;
}

DeliveryPool::~DeliveryPool()
{
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        m_state->stopping = true;
        m_state->queue.clear();
        threads.swap(m_state->threads);
        threads.push_back(std::move(m_state->monitor));
    }
    m_state->changed.notify_all();
    m_state->monitorWake.notify_all();
    for (std::thread& thread : threads) {
        // A callback that closes its own connection runs on one of these
        // threads: that one finishes on its own, holding the state alive.
        if (thread.get_id() == std::this_thread::get_id())
            thread.detach();
        else if (thread.joinable())
            thread.join();
    }
}

uint64_t DeliveryPool::wakeups()
{
    return g_wakeups.load(std::memory_order_relaxed);
}

void DeliveryPool::post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        if (m_state->stopping)
            return;
        m_state->queue.push_back({std::move(task), State::Clock::now()});
        // The first thread starts with the first task: a connection that is
        // never delivered to costs no thread.
        if (m_state->threads.empty())
            m_state->startWorker(m_state);
        else if (m_state->stalled())
            m_state->wakeMonitor(m_state);
    }
    m_state->changed.notify_one();
}

} // namespace BusDouble
