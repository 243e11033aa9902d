#pragma once
#include "Logging/CLoggingIf.h"

#include <windows.h>

#include <cstdarg>
#include <cstdint>

namespace Halvex {
class ILoggingHandler;
}

namespace ETWLogging {

// The process's one logger and the bridge from the platform library's logger core.
class CLoggerHolder {
public:
    CLoggerHolder() = default;
    ~CLoggerHolder();
    CLoggerHolder(const CLoggerHolder&) = delete;
    CLoggerHolder& operator=(const CLoggerHolder&) = delete;

    void Create(const wchar_t* app, const wchar_t* group, HMODULE module, const wchar_t* host, uint32_t mechanism);

    uint32_t Log(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line, const wchar_t* format,
                 ...);
    uint32_t LogV(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line, const wchar_t* format,
                  va_list args);
    // The bridge's way in: a finished text.
    uint32_t LogText(const wchar_t* file, const wchar_t* function, int32_t line, uint32_t level,
                     const wchar_t* text);

    CLoggingIf* Logger() const { return m_logger; }

private:
    uint32_t DispatchToLogger(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                              const wchar_t* format, va_list args);

    CLoggingIf* m_logger = nullptr;
    Halvex::ILoggingHandler* m_bridge = nullptr;
};

} // namespace ETWLogging
