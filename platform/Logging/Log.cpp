// Placeholder front door: no logger is built yet, so every call does nothing.
#include "Logging/Log.h"

namespace ETWLogging {

CLoggerHolder::~CLoggerHolder() = default;

void CLoggerHolder::Create(const wchar_t*, const wchar_t*, HMODULE, const wchar_t*, uint32_t) {}

uint32_t CLoggerHolder::Log(uint32_t, const wchar_t*, const wchar_t*, int32_t, const wchar_t*, ...)
{
    return ERROR_INSTALL_SERVICE_FAILURE;
}

uint32_t CLoggerHolder::LogV(uint32_t, const wchar_t*, const wchar_t*, int32_t, const wchar_t*, va_list)
{
    return ERROR_INSTALL_SERVICE_FAILURE;
}

uint32_t CLoggerHolder::LogText(const wchar_t*, const wchar_t*, int32_t, uint32_t, const wchar_t*)
{
    return ERROR_INSTALL_SERVICE_FAILURE;
}

CLoggerHolder* GetLoggerInstance() { return nullptr; }
CLoggerHolder* GetLogger() { return nullptr; }
bool IsLogEnabled(uint32_t) { return false; }
void SetLogIdentity(const wchar_t*, const wchar_t*, HMODULE, const wchar_t*, uint32_t) {}
HMODULE GetCurrentModule() { return nullptr; }

} // namespace ETWLogging
