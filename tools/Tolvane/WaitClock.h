#pragma once
#include <chrono>

namespace Ostrand {

// The time a registrar run measures its waits by, and its pause between two
// looks at what keeps it waiting; replaceable, so that a wait of a minute
// can be tested without being spent.
class WaitClock {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~WaitClock() = default;
    virtual Clock::time_point now() const;
    virtual void pause(std::chrono::milliseconds length);
};

} // namespace Ostrand
