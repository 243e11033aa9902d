#include "Logging/CDefaultLogBuilder.h"

namespace ETWLogging {

// The ETW logger is not built yet: without it the process has no logger
// unless the file logger is chosen.
bool CreateETWLogger(const wchar_t*, const wchar_t*, HMODULE, const wchar_t*, CLoggingIf**)
{
    return false;
}

} // namespace ETWLogging
