#include "Logging/CLogWaitBudget.h"

#include <new>

namespace ETWLogging {

namespace {

class SystemClock : public CLogWaitBudget::Clock {
public:
    uint64_t Now() override { return GetTickCount64(); }
    void Pause(DWORD milliseconds) override { Sleep(milliseconds); }
};

} // namespace

CLogWaitBudget::CLogWaitBudget(DWORD wait, DWORD backOff, std::shared_ptr<Clock> clock)
    : m_wait(wait), m_backOff(backOff), m_clock(clock ? std::move(clock) : std::make_shared<SystemClock>())
{
}

DWORD CLogWaitBudget::WaitAllowed()
{
    return m_clock->Now() < m_backOffEnds.load() ? 0 : m_wait;
}

void CLogWaitBudget::WaitRanOut(uint64_t now)
{
    m_backOffEnds.store(now + m_backOff);
}

} // namespace ETWLogging
