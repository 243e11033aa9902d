#include "Logging/CLogger.h"
#include "FormatString.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <new>
#include <stdexcept>

namespace Halvex {

namespace {

// Registration and logging may overlap on different threads.
std::atomic<ILoggingHandler*> g_handler{nullptr};

const wchar_t kInternalFile[] = L"Logging\\internal_logging";
const wchar_t kRegisterFunction[] = L"Halvex::CLogger::RegisterHandler";
const wchar_t kUnregisterFunction[] = L"Halvex::CLogger::UnregisterHandler";

// Addresses are reported as their low 32 bits.
unsigned int low32(const void* p)
{
    return static_cast<unsigned int>(reinterpret_cast<uintptr_t>(p) & 0xFFFFFFFFu);
}

} // namespace

uint32_t CDefaultLoggingHandler::Log(uint32_t type, const wchar_t* file, const wchar_t* function, int32_t line,
                                     const wchar_t* message)
{
    try {
        std::wstring text = FormatLine(type, file, function, line, message);
        if (!text.empty())
            OutputDebugStringW(text.c_str());
    } catch (...) {
        // The last resort has nowhere to report its own failure.
    }
    return 0;
}

std::wstring CDefaultLoggingHandler::FormatLine(uint32_t type, const wchar_t* file, const wchar_t* function,
                                                int32_t line, const wchar_t* message)
{
    const wchar_t* format = nullptr;
    switch (type) {
    case LOG_TYPE_SILENT:
        return {};
    case LOG_TYPE_INFO:
        format = L"%s(%d): [INFO]: [%s]: %s\n";
        break;
    case LOG_TYPE_ERROR:
        format = L"%s(%d): [ERROR]: [%s]: %s\n";
        break;
    default:
        format = L"%s(%d): [UNKNOWN]: [%s]: %s\n";
        break;
    }
    return FormatString(format, file ? file : L"", static_cast<int>(line), function ? function : L"",
                        message ? message : L"");
}

CDefaultLoggingHandler& CDefaultLoggingHandler::Instance()
{
    static CDefaultLoggingHandler instance;
    return instance;
}

uint32_t CLogger::LogV(uint32_t type, const wchar_t* file, const wchar_t* function, int32_t line,
                       const wchar_t* format, va_list args)
{
    ILoggingHandler* handler = g_handler.load();
    if (!handler) {
        uint32_t result = RegisterHandler(&CDefaultLoggingHandler::Instance());
        handler = g_handler.load();
        if (!handler)
            return result;
    }

    std::wstring text;
    try {
        FormatStringV(text, format, args);
    } catch (const std::bad_alloc&) {
        return handler->Log(LOG_TYPE_ERROR, file, function, line,
                            L"General memory-allocation failure in Halvex logger.");
    } catch (const std::length_error&) {
        // A format the formatter refuses still reaches the log as written.
        text = format ? format : L"";
    }
    handler->Log(type, file, function, line, text.c_str());
    return 0;
}

uint32_t CLogger::Log(uint32_t type, const wchar_t* file, const wchar_t* function, int32_t line,
                      const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    uint32_t result = LogV(type, file, function, line, format, args);
    va_end(args);
    return result;
}

ILoggingHandler* CLogger::RegisteredHandler()
{
    return g_handler.load();
}

uint32_t CLogger::RegisterHandler(ILoggingHandler* handler)
{
    if (!handler) {
        Log(LOG_TYPE_ERROR, kInternalFile, kRegisterFunction, 62, L"%s: Cannot Register (NULL) handler",
            GetErrorText(ERROR_INVALID_PARAMETER).c_str());
        return ERROR_INVALID_PARAMETER;
    }
    ILoggingHandler* current = g_handler.load();
    ILoggingHandler* defaultHandler = &CDefaultLoggingHandler::Instance();
    if (!current || current == defaultHandler || current == handler) {
        g_handler.store(handler);
        return 0;
    }
    Log(LOG_TYPE_ERROR, kInternalFile, kRegisterFunction, 72,
        L"%s: Registered Logging Handler 0x%08X cannot be replaced with 0x%08X",
        GetErrorText(ERROR_INVALID_STATE).c_str(), low32(current), low32(handler));
    return ERROR_INVALID_STATE;
}

uint32_t CLogger::UnregisterHandler(ILoggingHandler* handler)
{
    if (!handler) {
        Log(LOG_TYPE_ERROR, kInternalFile, kUnregisterFunction, 97, L"%s: Cannot Unregister (NULL) handler",
            GetErrorText(ERROR_INVALID_PARAMETER).c_str());
        return ERROR_INVALID_PARAMETER;
    }
    ILoggingHandler* current = g_handler.load();
    if (!current) {
        g_handler.store(handler);
        Log(LOG_TYPE_ERROR, kInternalFile, kUnregisterFunction, 107,
            L"%s: Request to Unregister Logging handler 0x%08X, but none are registered",
            GetErrorText(ERROR_INVALID_STATE).c_str(), low32(handler));
        g_handler.store(nullptr);
        return ERROR_INVALID_STATE;
    }
    if (current == handler) {
        g_handler.store(nullptr);
        return 0;
    }
    const std::wstring errorText = GetErrorText(ERROR_INVALID_STATE);
    const wchar_t* format =
        L"%s: Failed to Unregister Logging handler (requested handler 0x%08X != registered handler 0x%08X)";
    Log(LOG_TYPE_ERROR, kInternalFile, kUnregisterFunction, 115, format, errorText.c_str(), low32(handler),
        low32(current));
    g_handler.store(handler);
    Log(LOG_TYPE_ERROR, kInternalFile, kUnregisterFunction, 120, format, errorText.c_str(), low32(handler),
        low32(current));
    g_handler.store(current);
    return ERROR_INVALID_STATE;
}

std::wstring CLogger::GetErrorText(uint32_t code)
{
    std::wstring text(1024, L'\0');
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text.data(),
                                  static_cast<DWORD>(text.size()), nullptr);
    text.resize(length < text.size() ? length : 0);
    // The system ends its texts with a line break, which would split every
    // "%s: ..." message built on one.
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
        text.pop_back();
    return text;
}

uint32_t RegisterLoggingHandler(ILoggingHandler* handler)
{
    return CLogger::RegisterHandler(handler);
}

uint32_t UnregisterLoggingHandler(ILoggingHandler* handler)
{
    return CLogger::UnregisterHandler(handler);
}

} // namespace Halvex
