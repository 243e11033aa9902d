#include "Logging/CLoggerHolder.h"
#include "FormatString.h"
#include "Logging/CDefaultLogBuilder.h"
#include "Logging/CHalvexLogHandler.h"
#include "Logging/CLogger.h"

#include <stdexcept>
#include <string>

namespace ETWLogging {

namespace {

std::shared_ptr<CLogBuilderIf_ex> processBuilder()
{
    static const std::shared_ptr<CLogBuilderIf_ex> builder = std::make_shared<CDefaultLogBuilder>();
    return builder;
}

// A format the formatter refuses still reaches the log as written;
// std::bad_alloc passes on to the call site.
std::wstring formatMessage(const wchar_t* format, va_list args)
{
    std::wstring text;
    try {
        Halvex::FormatStringV(text, format, args);
    } catch (const std::length_error&) {
        text = format ? format : L"";
    }
    return text;
}

} // namespace

CLoggerHolder::CLoggerHolder(std::shared_ptr<CLogBuilderIf_ex> builder) : m_builder(std::move(builder)) {}

CLoggerHolder::~CLoggerHolder()
{
    if (Halvex::ILoggingHandler* bridge = TakeBridge())
        Halvex::UnregisterLoggingHandler(bridge);
    delete m_logger;
    m_logger = nullptr;
}

void CLoggerHolder::Create(const wchar_t* app, const wchar_t* group, HMODULE module, const wchar_t* host,
                           uint32_t mechanism)
{
    if (!m_builder)
        m_builder = processBuilder();

    CLoggingIf* logger = nullptr;
    if (!m_builder->BuildEx(app, group, module, host, mechanism, &logger, nullptr)) {
        delete logger;
        logger = nullptr;
        if (!m_builder->Build(group, module, host, mechanism, &logger, nullptr)) {
            delete logger;
            return;
        }
    }
    if (!logger)
        return;

    CLoggingIf* previous = m_logger;
    m_logger = logger;
    delete previous;

    Halvex::ILoggingHandler* bridge = GetHalvexLogHandler();
    if (Halvex::RegisterLoggingHandler(bridge) == ERROR_SUCCESS) {
        Halvex::ILoggingHandler* before = m_bridge.exchange(bridge);
        if (before && before != bridge)
            Halvex::UnregisterLoggingHandler(before);
    }
}

uint32_t CLoggerHolder::Log(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                            const wchar_t* format, ...)
{
    if (!m_logger)
        return ERROR_FUNCTION_FAILED;
    const uint32_t ready = m_logger->Register();
    if (ready != ERROR_SUCCESS)
        return ready;
    va_list args;
    va_start(args, format);
    uint32_t result = 0;
    try {
        result = DispatchToLogger(level, file, function, line, format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    return result;
}

uint32_t CLoggerHolder::DispatchToLogger(uint32_t level, const wchar_t* file, const wchar_t* function,
                                         int32_t line, const wchar_t* format, va_list args)
{
    if (auto* extended = dynamic_cast<CLoggingIf_ex*>(m_logger)) {
        if (extended->IsLevelEnabled(level))
            extended->LogV(level, file, function, line, format, args);
        return ERROR_SUCCESS;
    }
    return LogV(level, file, function, line, format, args);
}

uint32_t CLoggerHolder::LogV(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                             const wchar_t* format, va_list args)
{
    if (!m_logger)
        return ERROR_FUNCTION_FAILED;
    const uint32_t ready = m_logger->Register();
    if (ready != ERROR_SUCCESS)
        return ready;
    if (!format)
        return ERROR_INVALID_PARAMETER;
    const std::wstring text = formatMessage(format, args);
    if (auto* extended = dynamic_cast<CLoggingIf_ex*>(m_logger))
        return extended->WriteString(level, file, function, line, text.c_str());
    return m_logger->Write(file, function, line, level, text.c_str());
}

uint32_t CLoggerHolder::LogText(const wchar_t* file, const wchar_t* function, int32_t line, uint32_t level,
                                const wchar_t* text)
{
    if (!m_logger)
        return ERROR_FUNCTION_FAILED;
    const uint32_t ready = m_logger->Register();
    if (ready != ERROR_SUCCESS)
        return ready;
    if (auto* extended = dynamic_cast<CLoggingIf_ex*>(m_logger))
        return extended->WriteString(level, file, function, line, text);
    return m_logger->Write(file, function, line, level, text);
}

} // namespace ETWLogging
