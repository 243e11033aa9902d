#include "wrappers/DllAPI.h"

#include "Logging/Log.h"

namespace Ostrand {

DllAPI::~DllAPI() = default;

bool DllAPI::loadLibrary(const std::wstring& path, HMODULE* handle)
{
    if (!handle)
        return false;
    *handle = nullptr;
    (void)path;
    // No verified load is linked into this library yet: refuse rather than
    // map an unchecked file.
    SetLastError(ERROR_NOT_SUPPORTED);
    const DWORD error = GetLastError();
    ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, L"wrappers\\DllAPI", L"Ostrand::DllAPI::loadLibrary",
            L"LoadLibrary Failed. GLE: %lu", error);
    return false;
}

FARPROC DllAPI::getProcAddress(HMODULE module, const char* name)
{
    return ::GetProcAddress(module, name);
}

bool DllAPI::isTrusted(const std::wstring& path)
{
    if (path.empty())
        return false;
    return false;
}

bool DllAPI::freeLibrary(HMODULE module)
{
    return ::FreeLibrary(module) != FALSE;
}

bool DllAPI::getModuleHandleEx(DWORD flags, LPCWSTR name, HMODULE* handle)
{
    return ::GetModuleHandleExW(flags, name, handle) != FALSE;
}

} // namespace Ostrand
