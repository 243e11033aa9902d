#pragma once
#include "Thread/CEventHandle.h"

namespace Halvex {

// Makes the unnamed events a worker thread waits on. A class of its own so
// that users can be given one whose creation fails.
class CEventFactory {
public:
    virtual ~CEventFactory() = default;

    // An unnamed auto-reset event, not signalled; null when it cannot be had
    // (the thread's last error then says why).
    virtual CEventHandle CreateAutoResetEvent();
};

} // namespace Halvex
