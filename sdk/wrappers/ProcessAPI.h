#pragma once
#include <windows.h>

namespace Ostrand {

// Process calls of the SDK, injectable so that tests can stand in for them.
class ProcessAPI {
public:
    virtual ~ProcessAPI() = default;
    virtual DWORD getCurrentProcessId();
    virtual BOOL processIdToSessionId(DWORD processId, DWORD* sessionId);
};

} // namespace Ostrand
