#include "Logging/CHalvexLogHandler.h"
#include "Logging/Log.h"

namespace ETWLogging {

CHalvexLogHandler::~CHalvexLogHandler()
{
    if (CLoggerHolder* holder = internal::PublishedHolder()) {
        if (Halvex::ILoggingHandler* bridge = holder->TakeBridge())
            Halvex::UnregisterLoggingHandler(bridge);
    }
}

uint32_t CHalvexLogHandler::MapType(uint32_t type)
{
    switch (type) {
    case Halvex::LOG_TYPE_SILENT:
    case Halvex::LOG_TYPE_INFO:
        return LOG_LEVEL_NORMAL;
    case Halvex::LOG_TYPE_ERROR:
        return LOG_LEVEL_ERROR;
    default:
        return LOG_LEVEL_WARNING;
    }
}

uint32_t CHalvexLogHandler::Log(uint32_t type, const wchar_t* file, const wchar_t* function, int32_t line,
                                const wchar_t* message)
{
    CLoggerHolder* holder = internal::PublishedHolder();
    if (!holder)
        return 0;
    try {
        return holder->LogText(file, function, line, MapType(type), message);
    } catch (...) {
        // The platform core's callers do not expect exceptions from a handler.
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

CHalvexLogHandler* GetHalvexLogHandler()
{
    static CHalvexLogHandler handler;
    return &handler;
}

} // namespace ETWLogging
