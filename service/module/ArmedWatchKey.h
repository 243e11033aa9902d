#pragma once
#include "Registry/CRegKeyImpl.h"

#include <atomic>
#include <functional>

namespace Kest {

// A registry key for a change monitor that says when the monitor's watch is
// first in place. The system remembers no change made before a key is armed,
// so whoever watches for a value must read it once more at that point, or a
// change made just before would never be seen.
class ArmedWatchKey : public Halvex::internal::CRegKeyImpl {
public:
    // `onArmed` runs once, on the monitor's thread, right after the first
    // watch was placed.
    explicit ArmedWatchKey(std::function<void()> onArmed);

    LONG NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous = TRUE) override;

private:
    std::function<void()> m_onArmed;
    std::atomic<bool> m_armed{false};
};

} // namespace Kest
