#pragma once
// The front door every line of the system logs through.
#include "Logging/CLoggerHolder.h"
#include "Logging/CLoggingIf.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <type_traits>

namespace ETWLogging {

// The process's holder, made on first use; null when it could not be made.
CLoggerHolder* GetLoggerInstance();
CLoggerHolder* GetLogger();

namespace internal {
// The made holder's logger, set once the holder is made and cleared before
// it goes; null before, at exit, and when no logger could be made.
extern std::atomic<CLoggingIf*> g_readyLogger;
// The rest of IsLogEnabled: makes the holder on the first call.
bool IsLogEnabledFirstTime(uint32_t level);
} // namespace internal

// True when there is a logger and it passes the level. Call sites test this
// before they build any argument, so once the logger is made a disabled
// level costs one load and the logger's own virtual test.
inline bool IsLogEnabled(uint32_t level)
{
    if (CLoggingIf* logger = internal::g_readyLogger.load(std::memory_order_acquire))
        return logger->IsLevelEnabled(level);
    return internal::IsLogEnabledFirstTime(level);
}

// Takes effect only while no logger has been made. A null module stands for
// this code's own module.
void SetLogIdentity(const wchar_t* app, const wchar_t* group, HMODULE module, const wchar_t* host,
                    uint32_t mechanism);

HMODULE GetCurrentModule();

namespace internal {
// The holder once it is made, without making it; null before and after.
CLoggerHolder* PublishedHolder();
// The builder the process's holder uses instead of CDefaultLogBuilder; only
// before the first log call (tests use it to make building fail or throw).
void SetLogBuilder(std::shared_ptr<CLogBuilderIf_ex> builder);

// What may follow a printf-style format: what passes through "..." as it
// is. An object (a std::wstring rather than its c_str()) would reach the
// formatter as bytes it cannot read.
template <typename T>
constexpr bool kIsLogArgument = std::is_arithmetic_v<T> || std::is_enum_v<T> || std::is_pointer_v<T> ||
                                std::is_null_pointer_v<T> || std::is_array_v<T>;
} // namespace internal

// "%s" and "%ls" take wide text, "%hs" narrow text.
template <typename... Args>
uint32_t Log(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line, const wchar_t* format,
             const Args&... args)
{
    static_assert((internal::kIsLogArgument<Args> && ...),
                  "a log argument must be a number, an enum or a pointer: pass text as .c_str()");
    CLoggerHolder* holder = GetLoggerInstance();
    if (!holder)
        return 0;
    return holder->Log(level, file, function, line, format, args...);
}

} // namespace ETWLogging

// The usual call site: the level test first, then the line. `file` is the
// source file's name without extension, `function` the qualified operation.
#define ETW_LOG(level, file, function, ...)                                                      \
    do {                                                                                         \
        if (::ETWLogging::IsLogEnabled(level))                                                   \
            ::ETWLogging::Log((level), (file), (function), __LINE__, __VA_ARGS__);               \
    } while (0)
