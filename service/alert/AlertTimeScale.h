#pragma once
#include <chrono>
#include <cstdint>

namespace Kest {

// Turns the seconds an alert waits for its outcome into the time actually
// waited. The service waits real time; tests shorten the minutes an alert
// may stay on screen without changing what the service asks for.
class AlertTimeScale {
public:
    explicit AlertTimeScale(double factor = 1.0);
    virtual ~AlertTimeScale() = default;

    // Never negative; so long a wait that it cannot be expressed is cut to
    // about a century, which is forever for a waiting alert.
    virtual std::chrono::nanoseconds toWait(int64_t seconds) const;

private:
    double m_factor;
};

} // namespace Kest
