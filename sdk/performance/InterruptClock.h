#pragma once
#include <windows.h>

#include <cstdint>

namespace Ostrand {
namespace internal {

// The unbiased interrupt time (100-nanosecond units, sleep excluded), behind
// a seam so that timings can be checked without waiting.
class InterruptClock {
public:
    virtual ~InterruptClock();
    // 0 when the system cannot say.
    virtual uint64_t unbiasedInterruptTime();
};

} // namespace internal
} // namespace Ostrand
