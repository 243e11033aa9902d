#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

namespace ETWLogging {

// How long a writer may wait for a log folder's turn, and how long after a
// wait that ran out lines are written without waiting: a holder that never
// lets go costs the logger one bounded wait per back-off, however many lines
// and threads it has. (A healthy holder needs well under a millisecond.)
class CLogWaitBudget {
public:
    // Milliseconds of a monotonic clock, and a pause of the calling thread.
    class Clock {
    public:
        virtual ~Clock() = default;
        virtual uint64_t Now() = 0;
        virtual void Pause(DWORD milliseconds) = 0;
    };

    static constexpr DWORD kDefaultWait = 1000;
    static constexpr DWORD kDefaultBackOff = 60000;

    // An empty clock is the system's.
    explicit CLogWaitBudget(DWORD wait = kDefaultWait, DWORD backOff = kDefaultBackOff,
                            std::shared_ptr<Clock> clock = nullptr);
    CLogWaitBudget(const CLogWaitBudget&) = delete;
    CLogWaitBudget& operator=(const CLogWaitBudget&) = delete;

    Clock& GetClock() { return *m_clock; }
    // The bounded wait, whether backing off or not.
    DWORD Wait() const { return m_wait; }
    // Milliseconds the writer may wait now: 0 while backing off.
    DWORD WaitAllowed();
    // A wait ran out at `now`: nobody waits until the back-off has passed.
    void WaitRanOut(uint64_t now);

private:
    const DWORD m_wait;
    const DWORD m_backOff;
    std::shared_ptr<Clock> m_clock;
    // Nobody waits before this time; 0 before any wait ran out.
    std::atomic<uint64_t> m_backOffEnds{0};
};

} // namespace ETWLogging
