#pragma once
// Loggers and builders that record what the front door asks of them.
#include "Logging/CLogBuilderIf.h"
#include "Logging/CLoggingIf.h"

#include <cstdarg>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace LoggingTestDoubles {

struct Written {
    uint32_t level;
    std::wstring file, function;
    int32_t line;
    std::wstring text;
};

template <typename Base>
class RecordingLoggerBase : public Base {
public:
    uint32_t Init(const wchar_t*, HMODULE, const wchar_t*, ETWLogging::LoggingConfigListenerIf*) override { return 0; }
    uint32_t Register() override { return registerResult; }
    void GetQualifiedName(wchar_t**) override {}
    void GetGroupName(wchar_t**) override {}
    uint32_t Uninit() override { return 0; }
    void SetEnabled(bool) override {}
    bool IsEnabled() override { return true; }
    void Log(uint32_t, const wchar_t*, const wchar_t*, int32_t, const wchar_t*, ...) override {}
    uint32_t Write(const wchar_t* file, const wchar_t* function, int32_t line, uint32_t level,
                   const wchar_t* text) override
    {
        writes.push_back({level, file ? file : L"", function ? function : L"", line, text ? text : L""});
        return writeResult;
    }
    bool IsLevelEnabled(uint32_t level) override { return level >= severity; }
    void SetMaxEntries(uint32_t) override {}
    uint32_t GetMaxEntries() override { return 0; }
    void SetMaxSize(uint32_t) override {}
    uint32_t GetMaxSize() override { return 0; }
    void SetSeverity(uint32_t level) override { severity = level; }
    uint32_t GetSeverity() override { return severity; }
    uint32_t AddRef() override { return 1; }
    uint32_t Release() override { return 0; }

    uint32_t registerResult = 0;
    uint32_t writeResult = 0;
    uint32_t severity = 3;
    std::vector<Written> writes;
};

using PlainLogger = RecordingLoggerBase<ETWLogging::CLoggingIf>;

class ExtendedLogger : public RecordingLoggerBase<ETWLogging::CLoggingIf_ex> {
public:
    uint32_t InitEx(const wchar_t*, const wchar_t*, HMODULE, const wchar_t*,
                    ETWLogging::LoggingConfigListenerIf*) override
    {
        return 0;
    }
    uint32_t WriteString(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                         const wchar_t* text) override
    {
        strings.push_back({level, file ? file : L"", function ? function : L"", line, text ? text : L""});
        return 0;
    }
    uint32_t LogV(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line, const wchar_t* format,
                  va_list args) override
    {
        wchar_t buffer[256];
        vswprintf(buffer, 256, format, args);
        formatted.push_back({level, file ? file : L"", function ? function : L"", line, buffer});
        return 0;
    }
    uint32_t LogEx(uint32_t, const wchar_t*, const wchar_t*, int32_t, const wchar_t*, ...) override { return 0; }

    std::vector<Written> strings;
    std::vector<Written> formatted;
};

// Hands out a prepared logger; BuildEx and Build fail or throw on request.
class FakeBuilder : public ETWLogging::CLogBuilderIf_ex {
public:
    virtual ~FakeBuilder() = default;
    bool BuildEx(const wchar_t* app, const wchar_t*, HMODULE, const wchar_t*, uint32_t, ETWLogging::CLoggingIf** out,
                 Halvex::CRegKey*) override
    {
        ++buildExCalls;
        lastApp = app ? app : L"(null)";
        if (throwsLeft > 0) {
            --throwsLeft;
            throw std::runtime_error("building failed");
        }
        if (onBuild)
            onBuild();
        if (!buildExSucceeds)
            return false;
        *out = next;
        next = nullptr;
        return *out != nullptr;
    }
    bool Build(const wchar_t*, HMODULE, const wchar_t*, uint32_t, ETWLogging::CLoggingIf** out,
               Halvex::CRegKey*) override
    {
        ++buildCalls;
        if (!buildSucceeds)
            return false;
        *out = next;
        next = nullptr;
        return *out != nullptr;
    }

    ETWLogging::CLoggingIf* next = nullptr;
    bool buildExSucceeds = true;
    bool buildSucceeds = true;
    int throwsLeft = 0;
    int buildExCalls = 0;
    int buildCalls = 0;
    std::wstring lastApp;
    void (*onBuild)() = nullptr;
};

} // namespace LoggingTestDoubles
