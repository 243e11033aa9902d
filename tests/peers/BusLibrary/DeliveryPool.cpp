#include "DeliveryPool.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace BusDouble {

struct DeliveryPool::State {
    using Clock = std::chrono::steady_clock;
    struct Task {
        std::function<void()> run;
        Clock::time_point queued;
    };

    std::mutex lock;
    std::condition_variable changed;      // workers: a task or the end
    std::condition_variable monitorWake;  // the monitor: only the end
    std::deque<Task> queue;
    std::vector<std::thread> threads;
    std::thread monitor;
    size_t idle = 0;
    bool stopping = false;
    std::chrono::milliseconds stall;
    size_t maxThreads;

    // Caller holds the lock.
    void startWorker(const std::shared_ptr<State>& self)
    {
        threads.emplace_back([self]() { self->work(); });
    }

    void work()
    {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            ++idle;
            changed.wait(guard, [this]() { return stopping || !queue.empty(); });
            --idle;
            if (stopping)
                return;
            Task task = std::move(queue.front());
            queue.pop_front();
            guard.unlock();
            task.run();
            task.run = nullptr;
            guard.lock();
        }
    }

    void watch(const std::shared_ptr<State>& self)
    {
        std::unique_lock<std::mutex> guard(lock);
        while (!stopping) {
            monitorWake.wait_for(guard, stall);
            if (stopping)
                return;
            if (!queue.empty() && idle == 0 && threads.size() < maxThreads &&
                Clock::now() - queue.front().queued >= stall)
                startWorker(self);
        }
    }
};

DeliveryPool::DeliveryPool(std::chrono::milliseconds stall, size_t maxThreads) : m_state(std::make_shared<State>())
{
    m_state->stall = stall;
    m_state->maxThreads = maxThreads;
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->startWorker(m_state);
    std::shared_ptr<State> state = m_state;
    m_state->monitor = std::thread([state]() { state->watch(state); });
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

void DeliveryPool::post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        if (m_state->stopping)
            return;
        m_state->queue.push_back({std::move(task), State::Clock::now()});
    }
    m_state->changed.notify_one();
}

} // namespace BusDouble
