#include "module/SystemClock.h"

#include <chrono>

namespace Kest {

int64_t SystemClock::now() const
{
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch()).count();
}

} // namespace Kest
