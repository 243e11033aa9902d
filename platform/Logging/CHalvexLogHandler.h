#pragma once
#include "Logging/CLogger.h"

#include <cstdint>

namespace ETWLogging {

// The bridge from the platform library's logger core to the front door's
// logger. Stateless; makes no level test of its own.
class CHalvexLogHandler : public Halvex::ILoggingHandler {
public:
    CHalvexLogHandler() = default;
    // At exit: takes the holder's bridge and unregisters it from the core.
    ~CHalvexLogHandler();

    uint32_t Log(uint32_t type, const wchar_t* file, const wchar_t* function, int32_t line,
                 const wchar_t* message) override;

    // Platform message type -> log level: 0 and 1 -> 1, 2 -> 4, others -> 2.
    static uint32_t MapType(uint32_t type);
};

// The process's one bridge, a function-local static.
CHalvexLogHandler* GetHalvexLogHandler();

} // namespace ETWLogging
