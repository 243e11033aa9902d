#include "executor/TaskQueue.h"

namespace Kest {

void TaskQueue::post(Task task)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_accepting)
            return;
        m_tasks.push_back(std::move(task));
    }
    m_notEmpty.notify_one();
}

bool TaskQueue::pop(Task& task)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_stopped)
        return false;
    while (m_tasks.empty()) {
        m_notEmpty.wait(lock);
        if (m_stopped)
            return false;
    }
    task = std::move(m_tasks.front());
    m_tasks.pop_front();
    return true;
}

void TaskQueue::reopen()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tasks.clear();
    m_stopped = false;
    m_accepting = true;
}

void TaskQueue::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
        m_accepting = false;
    }
    m_notEmpty.notify_all();
}

} // namespace Kest
