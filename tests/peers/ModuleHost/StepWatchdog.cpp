#include "StepWatchdog.h"

#include <windows.h>

#include <cstdio>

namespace ModuleHost {

StepWatchdog::StepWatchdog(std::chrono::milliseconds limit) : m_limit(limit), m_thread([this] { watch(); }) {}

StepWatchdog::~StepWatchdog()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void StepWatchdog::begin(const std::string& step)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_step = step;
        m_running = true;
        m_deadline = std::chrono::steady_clock::now() + m_limit;
    }
    m_changed.notify_all();
}

void StepWatchdog::end()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = false;
}

void StepWatchdog::watch()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        if (!m_running) {
            m_changed.wait(lock);
            continue;
        }
        if (m_changed.wait_until(lock, m_deadline) == std::cv_status::timeout && m_running &&
            std::chrono::steady_clock::now() >= m_deadline) {
            std::printf("%s timed out\n", m_step.c_str());
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
}

} // namespace ModuleHost
