#include "wrappers/ProcessAPI.h"

namespace Ostrand {

DWORD ProcessAPI::getCurrentProcessId()
{
    return GetCurrentProcessId();
}

BOOL ProcessAPI::processIdToSessionId(DWORD processId, DWORD* sessionId)
{
    return ProcessIdToSessionId(processId, sessionId);
}

} // namespace Ostrand
