#include "WaitClock.h"

#include <windows.h>

namespace Ostrand {

WaitClock::Clock::time_point WaitClock::now() const { return Clock::now(); }

void WaitClock::pause(std::chrono::milliseconds length)
{
    if (length.count() > 0)
        Sleep(static_cast<DWORD>(length.count()));
}

} // namespace Ostrand
