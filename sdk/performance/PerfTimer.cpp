#include "performance/PerfTimer.h"

#include "Logging/Log.h"

namespace Ostrand {
namespace internal {

PerfTimer::PerfTimer(const std::wstring& name, std::shared_ptr<InterruptClock> clock)
    : m_clock(clock ? std::move(clock) : std::make_shared<InterruptClock>()), m_start(nowMilliseconds()), m_name(name)
{
}

PerfTimer::~PerfTimer()
{
    stop();
}

void PerfTimer::stop()
{
    if (m_stopped)
        return;
    const int64_t end = nowMilliseconds();
    ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, L"performance\\PerfTimer", L"Ostrand::internal::PerfTimer::stop",
            L"K7QPerfTimer|%ls|%lld|%lld|%lld", m_name.c_str(), static_cast<long long>(m_start),
            static_cast<long long>(end), static_cast<long long>(end - m_start));
    m_stopped = true;
}

int64_t PerfTimer::nowMilliseconds() const
{
    return static_cast<int64_t>(m_clock->unbiasedInterruptTime() / 10000);
}

} // namespace internal
} // namespace Ostrand
