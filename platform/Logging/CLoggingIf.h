#pragma once
#include <windows.h>

#include <cstdarg>
#include <cstdint>

namespace ETWLogging {

// Log levels: the system's vocabulary. A logger passes a message whose level is
// at or above its severity.
enum : uint32_t {
    LOG_LEVEL_NORMAL = 1,
    LOG_LEVEL_WARNING = 2,
    LOG_LEVEL_INFORMATION = 3,
    LOG_LEVEL_ERROR = 4,
    LOG_LEVEL_CRITICAL = 5,
    LOG_LEVEL_INFORMATION_EX = 6,
};

// Status results of the logging classes besides Win32 codes.
enum : uint32_t {
    LOG_STATUS_ALREADY_INITIALIZED = 20001,
    LOG_STATUS_NOT_INITIALIZED = 20002,
};

// Characters of the buffer the interface's own formatting entry points use
// (at most one less of text; longer texts are cut).
constexpr size_t kLogMessageCapacity = 4160;

// Told by an ETW session of changed enable state, level and flags.
class LoggingConfigListenerIf {
public:
    virtual void OnConfigurationChanged(bool enabled, uint32_t level, uint32_t flags) = 0;
    virtual ~LoggingConfigListenerIf() = default;
};

// The logger interface; the slot order is part of the contract.
class CLoggingIf {
public:
    virtual ~CLoggingIf() = default;
    virtual uint32_t Init(const wchar_t* group, HMODULE module, const wchar_t* host,
                          LoggingConfigListenerIf* listener) = 0;
    // Called before every write; 0 means ready.
    virtual uint32_t Register() = 0;
    virtual void GetQualifiedName(wchar_t** name) = 0;
    virtual void GetGroupName(wchar_t** name) = 0;
    virtual uint32_t Uninit() = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual bool IsEnabled() = 0;
    virtual void Log(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                     const wchar_t* format, ...) = 0;
    virtual uint32_t Write(const wchar_t* file, const wchar_t* function, int32_t line, uint32_t level,
                           const wchar_t* text) = 0;
    virtual bool IsLevelEnabled(uint32_t level) = 0;
    virtual void SetMaxEntries(uint32_t entries) = 0;
    virtual uint32_t GetMaxEntries() = 0;
    virtual void SetMaxSize(uint32_t bytes) = 0;
    virtual uint32_t GetMaxSize() = 0;
    virtual void SetSeverity(uint32_t level) = 0;
    virtual uint32_t GetSeverity() = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

    // Formatted here once for every logger: cut to kLogMessageCapacity - 1
    // characters and handed to Write.
    virtual void LogNormal(const wchar_t* file, const wchar_t* function, int32_t line, const wchar_t* format, ...);
    virtual void LogError(const wchar_t* file, const wchar_t* function, int32_t line, const wchar_t* format, ...);
    virtual void LogWarning(const wchar_t* file, const wchar_t* function, int32_t line, const wchar_t* format, ...);
    virtual void LogCritical(const wchar_t* file, const wchar_t* function, int32_t line, const wchar_t* format, ...);
    virtual void LogInformation(const wchar_t* file, const wchar_t* function, int32_t line,
                                const wchar_t* format, ...);

protected:
    void WriteFormattedV(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                         const wchar_t* format, va_list args);
};

// The extended interface of loggers that format themselves (the ETW logger).
class CLoggingIf_ex : public CLoggingIf {
public:
    virtual uint32_t InitEx(const wchar_t* app, const wchar_t* group, HMODULE module, const wchar_t* host,
                            LoggingConfigListenerIf* listener) = 0;
    virtual uint32_t WriteString(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                                 const wchar_t* text) = 0;
    virtual uint32_t LogV(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                          const wchar_t* format, va_list args) = 0;
    virtual uint32_t LogEx(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                           const wchar_t* format, ...) = 0;
};

} // namespace ETWLogging
