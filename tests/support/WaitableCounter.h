#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace TestSupport {

// A count that one thread raises and another waits on with a deadline, so
// that tests wait for what happened instead of sleeping.
class WaitableCounter {
public:
    // Raises the count by one; returns the new count.
    int increment();
    int value() const;
    // Waits until the count is at least `target`; false at the deadline.
    bool waitFor(int target, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    int m_count = 0;
};

} // namespace TestSupport
