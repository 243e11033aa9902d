#include "OSInfo/RunOnce.h"

#include <windows.h>

namespace Halvex {
namespace internal {

bool RunOnce(std::atomic<uint32_t>& state, const std::function<bool()>& callback)
{
    unsigned spins = 0;
    for (;;) {
        uint32_t expected = OnceIdle;
        if (state.compare_exchange_strong(expected, OnceRunning, std::memory_order_acquire))
            break;
        if (expected == OnceDone)
            return true;
        YieldProcessor();
        // The owner reads a file; let it have the processor now and then.
        if (++spins % 64 == 0)
            SwitchToThread();
    }
    bool done = false;
    try {
        done = callback();
    } catch (...) {
        state.exchange(OnceIdle, std::memory_order_release);
        throw;
    }
    state.exchange(done ? OnceDone : OnceIdle, std::memory_order_release);
    return done;
}

} // namespace internal
} // namespace Halvex
