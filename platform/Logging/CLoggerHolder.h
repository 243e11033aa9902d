#pragma once
#include "Logging/CLogBuilderIf.h"
#include "Logging/CLoggingIf.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <memory>

namespace Halvex {
class ILoggingHandler;
}

namespace ETWLogging {

// The process's one logger and the bridge from the platform library's logger core.
class CLoggerHolder {
public:
    // An empty builder stands for the process's CDefaultLogBuilder.
    explicit CLoggerHolder(std::shared_ptr<CLogBuilderIf_ex> builder = {});
    ~CLoggerHolder();
    CLoggerHolder(const CLoggerHolder&) = delete;
    CLoggerHolder& operator=(const CLoggerHolder&) = delete;

    // Builds the logger (replacing one held before) and registers the bridge.
    void Create(const wchar_t* app, const wchar_t* group, HMODULE module, const wchar_t* host, uint32_t mechanism);

    // 1627 without a logger; the logger's Register code when it is not ready.
    uint32_t Log(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line, const wchar_t* format,
                 ...);
    // Formats and writes with no level test: the call site made it.
    uint32_t LogV(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line, const wchar_t* format,
                  va_list args);
    // The bridge's way in: a finished text.
    uint32_t LogText(const wchar_t* file, const wchar_t* function, int32_t line, uint32_t level,
                     const wchar_t* text);

    CLoggingIf* Logger() const { return m_logger; }
    Halvex::ILoggingHandler* Bridge() const { return m_bridge.load(); }
    // Hands the registered bridge over and forgets it.
    Halvex::ILoggingHandler* TakeBridge() { return m_bridge.exchange(nullptr); }

private:
    uint32_t DispatchToLogger(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                              const wchar_t* format, va_list args);

    CLoggingIf* m_logger = nullptr;
    std::atomic<Halvex::ILoggingHandler*> m_bridge{nullptr};
    std::shared_ptr<CLogBuilderIf_ex> m_builder;
};

} // namespace ETWLogging
