#include "alert/AlertTimeScale.h"

namespace Kest {

namespace {

// About a hundred years: far beyond any alert, far below the clock's range.
constexpr double kLongestWaitNs = 100.0 * 365 * 24 * 3600 * 1e9;

} // namespace

AlertTimeScale::AlertTimeScale(double factor) : m_factor(factor > 0 ? factor : 1.0) {}

std::chrono::nanoseconds AlertTimeScale::toWait(int64_t seconds) const
{
    if (seconds <= 0)
        return std::chrono::nanoseconds(0);
    double ns = static_cast<double>(seconds) * 1e9 * m_factor;
    if (ns > kLongestWaitNs)
        ns = kLongestWaitNs;
    return std::chrono::nanoseconds(static_cast<int64_t>(ns));
}

} // namespace Kest
