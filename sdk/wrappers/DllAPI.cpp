#include "wrappers/DllAPI.h"

#include "Logging/Log.h"
#include "trust/TrustLoad.h"
#include "trust/TrustValidator.h"

namespace Ostrand {

DllAPI::~DllAPI() = default;

bool DllAPI::loadLibrary(const std::wstring& path, HMODULE* handle)
{
    if (!handle)
        return false;
    *handle = nullptr;
    // A NUL inside would verify and load another file than the one named.
    if (path.find(L'\0') != std::wstring::npos)
        SetLastError(ERROR_INVALID_PARAMETER);
    else
        *handle = TrustLoadLibraryExW(path.c_str(), 0);
    if (!*handle) {
        const DWORD error = GetLastError();
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, L"wrappers\\DllAPI", L"Ostrand::DllAPI::loadLibrary",
                L"LoadLibrary Failed. GLE: %lu", error);
        return false;
    }
    return true;
}

FARPROC DllAPI::getProcAddress(HMODULE module, const char* name)
{
    return ::GetProcAddress(module, name);
}

bool DllAPI::isTrusted(const std::wstring& path)
{
    if (path.empty() || path.find(L'\0') != std::wstring::npos)
        return false;
    return TrustVerifyFile(path.c_str()) == 0;
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
