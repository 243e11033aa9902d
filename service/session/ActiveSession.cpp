#include "session/ActiveSession.h"

#include <windows.h>
#include <wtsapi32.h>

#include <memory>

namespace Kest {

namespace {

struct WtsMemoryFree {
    void operator()(void* memory) const { WTSFreeMemory(memory); }
};

} // namespace

ActiveSession findActiveSession()
{
    ActiveSession result;
    PWTS_SESSION_INFOW sessions = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count)) {
        result.error = GetLastError();
        return result;
    }
    const std::unique_ptr<void, WtsMemoryFree> owned(sessions);
    result.enumerated = true;
    if (!sessions)
        return result;
    for (DWORD i = 0; i < count; ++i) {
        if (sessions[i].State != WTSActive)
            continue;
        // Session 0 holds services, never a user who could see an alert.
        if (sessions[i].SessionId != 0) {
            result.found = true;
            result.sessionId = sessions[i].SessionId;
        }
        break;
    }
    return result;
}

} // namespace Kest
