#include "performance/InterruptClock.h"

namespace Ostrand {
namespace internal {

InterruptClock::~InterruptClock() = default;

uint64_t InterruptClock::unbiasedInterruptTime()
{
    ULONGLONG time = 0;
    if (!QueryUnbiasedInterruptTime(&time))
        return 0;
    return time;
}

} // namespace internal
} // namespace Ostrand
