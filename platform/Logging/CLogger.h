#pragma once
#include <cstdarg>
#include <cstdint>
#include <string>

namespace Halvex {

// Message types of the platform library's own messages.
enum : uint32_t {
    LOG_TYPE_SILENT = 0,
    LOG_TYPE_INFO = 1,
    LOG_TYPE_ERROR = 2,
};

// Receives every message of the platform library's own code.
class ILoggingHandler {
public:
    virtual uint32_t Log(uint32_t type, const wchar_t* file, const wchar_t* function, int32_t line,
                         const wchar_t* message) = 0;

protected:
    ~ILoggingHandler() = default;
};

// Used until somebody registers a handler: writes to the debugger output.
class CDefaultLoggingHandler : public ILoggingHandler {
public:
    uint32_t Log(uint32_t type, const wchar_t* file, const wchar_t* function, int32_t line,
                 const wchar_t* message) override;

    // The debugger line for a message; empty for a silent one.
    static std::wstring FormatLine(uint32_t type, const wchar_t* file, const wchar_t* function, int32_t line,
                                   const wchar_t* message);

    static CDefaultLoggingHandler& Instance();
};

class CLogger {
public:
    CLogger() = delete;

    // Formats (wide printf: "%s" wide, "%hs" narrow) and delivers one message.
    static uint32_t Log(uint32_t type, const wchar_t* file, const wchar_t* function, int32_t line,
                        const wchar_t* format, ...);
    static uint32_t LogV(uint32_t type, const wchar_t* file, const wchar_t* function, int32_t line,
                         const wchar_t* format, va_list args);

    static uint32_t RegisterHandler(ILoggingHandler* handler);
    static uint32_t UnregisterHandler(ILoggingHandler* handler);

    // The handler messages go to now; null when none is registered.
    static ILoggingHandler* RegisteredHandler();

    // The system's message text for a Win32 code, without its closing line
    // break (empty when it has none).
    static std::wstring GetErrorText(uint32_t code);
};

uint32_t RegisterLoggingHandler(ILoggingHandler* handler);
uint32_t UnregisterLoggingHandler(ILoggingHandler* handler);

} // namespace Halvex
