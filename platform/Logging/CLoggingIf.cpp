#include "Logging/CLoggingIf.h"
#include "FormatString.h"

namespace ETWLogging {

void CLoggingIf::WriteFormattedV(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                                 const wchar_t* format, va_list args)
{
    if (!format)
        return;
    wchar_t buffer[kLogMessageCapacity];
    // A longer text is cut; a format the formatter refuses reaches the log as written.
    if (Halvex::FormatBufferV(buffer, kLogMessageCapacity, format, args) < 0) {
        Write(file, function, line, level, format);
        return;
    }
    Write(file, function, line, level, buffer);
}

#define ETWLOGGING_LEVEL_ENTRY(name, level)                                                             \
    void CLoggingIf::name(const wchar_t* file, const wchar_t* function, int32_t line, const wchar_t* format, \
                          ...)                                                                          \
    {                                                                                                   \
        va_list args;                                                                                   \
        va_start(args, format);                                                                         \
        WriteFormattedV((level), file, function, line, format, args);                                   \
        va_end(args);                                                                                   \
    }

ETWLOGGING_LEVEL_ENTRY(LogNormal, LOG_LEVEL_NORMAL)
ETWLOGGING_LEVEL_ENTRY(LogError, LOG_LEVEL_ERROR)
ETWLOGGING_LEVEL_ENTRY(LogWarning, LOG_LEVEL_WARNING)
ETWLOGGING_LEVEL_ENTRY(LogCritical, LOG_LEVEL_CRITICAL)
ETWLOGGING_LEVEL_ENTRY(LogInformation, LOG_LEVEL_INFORMATION)

#undef ETWLOGGING_LEVEL_ENTRY

} // namespace ETWLogging
