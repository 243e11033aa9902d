#pragma once
#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ConsoleViewer {

// What the console viewer has on screen: each alert it showed until the user
// answers it (its time on screen is up) or the service takes it down. Each
// alert ends once, and only its end is reported as its outcome.
class Screen {
public:
    using Clock = std::chrono::steady_clock;
    enum class Outcome { Dismissed, Failed };
    struct Ended {
        std::wstring instanceId;
        Outcome outcome;
    };

    void show(const std::wstring& instanceId, Clock::time_point due, Outcome outcome);
    // The service asks for the alert to be taken down. True when it was
    // still on screen: it is now dismissed and that is its outcome to report.
    // False when it was not there (ended already, or never shown): there is
    // nothing more to report for it.
    bool takeDown(const std::wstring& instanceId);
    // The alerts whose time on screen is up at `now`, with the user's answer;
    // each is off the screen afterwards.
    std::vector<Ended> answered(Clock::time_point now);

private:
    struct Shown {
        Clock::time_point due;
        Outcome outcome;
    };
    std::map<std::wstring, Shown> m_shown; // instance id -> its answer to come
};

} // namespace ConsoleViewer
