#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>

namespace Kest {

// At most one dispatch thread shows the alerts of a session id at a time: a
// session made again for an id whose old session still ends waits here until
// the old dispatch thread has gone.
class DispatchTurns {
public:
    // Blocks until no other thread holds the turn of `sessionId`, then holds
    // it; false, holding nothing, once `stopped` answers true (tested again
    // at every wake).
    bool take(uint32_t sessionId, const std::function<bool()>& stopped);
    void give(uint32_t sessionId);
    // Has every waiting take test its `stopped` again.
    void wake();

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::set<uint32_t> m_held;
};

} // namespace Kest
