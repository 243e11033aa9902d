#include "message/ReplyClock.h"

#include <windows.h>

namespace Ostrand {

int64_t ReplyClock::nowMs() const
{
    ULONGLONG ticks = 0;
    QueryUnbiasedInterruptTime(&ticks);
    return static_cast<int64_t>(ticks / 10000);
}

} // namespace Ostrand
