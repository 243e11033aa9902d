#pragma once
#include <cstdint>

namespace Kest {

// Which Windows session is the active one, as both the user sessions and the
// service ask it.
struct ActiveSession {
    bool enumerated = false; // false: the sessions could not be listed; `error` says why
    uint32_t error = 0;      // the system error of a failed enumeration
    bool found = false;      // an active session with an id other than 0 exists
    uint32_t sessionId = 0;  // its id when found
};

// The first session in the system's list whose state is active; one whose id
// is 0 counts as none.
ActiveSession findActiveSession();

} // namespace Kest
