#pragma once
#include "performance/InterruptClock.h"

#include <cstdint>
#include <memory>
#include <string>

namespace Ostrand {
namespace internal {

// Times a scope and writes one "K7QPerfTimer" line at level 1 when it is
// stopped, explicitly or by destruction, whichever comes first.
class PerfTimer {
public:
    // An empty clock means the system's.
    explicit PerfTimer(const std::wstring& name, std::shared_ptr<InterruptClock> clock = {});
    ~PerfTimer();
    PerfTimer(const PerfTimer&) = delete;
    PerfTimer& operator=(const PerfTimer&) = delete;

    void stop();

private:
    int64_t nowMilliseconds() const;

    std::shared_ptr<InterruptClock> m_clock;
    int64_t m_start;
    std::wstring m_name;
    bool m_stopped = false;
};

} // namespace internal
} // namespace Ostrand
