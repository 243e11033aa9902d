#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace ModuleHost {

// Ends the process with exit code 3 after printing "<step> timed out" when a
// step runs past its time limit: a hung module must not hang its host's test.
class StepWatchdog {
public:
    explicit StepWatchdog(std::chrono::milliseconds limit);
    ~StepWatchdog();
    StepWatchdog(const StepWatchdog&) = delete;
    StepWatchdog& operator=(const StepWatchdog&) = delete;

    void begin(const std::string& step);
    void end();

private:
    void watch();

    const std::chrono::milliseconds m_limit;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_running = false;
    bool m_quit = false;
    std::string m_step;
    std::chrono::steady_clock::time_point m_deadline;
    std::thread m_thread;
};

} // namespace ModuleHost
