#include "dll/DllLoader.h"

#include "Logging/Log.h"
#include "dll/CallGuarded.h"
#include "dll/ModuleStatusText.h"

#include "ModuleStatus.h"

namespace Ostrand {

namespace {

const wchar_t kSource[] = L"dll\\DllLoader";

} // namespace

DllLoader::DllLoader(std::shared_ptr<DllAPI> dllApi)
    : m_dllApi(dllApi ? std::move(dllApi) : std::make_shared<DllAPI>())
{
}

DllLoader::~DllLoader() = default;

bool DllLoader::loadDLL(const std::wstring& path, HMODULE* handle)
{
    if (!handle) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Ostrand::DllLoader::loadDLL",
                L"Invalid pHandle specified. Exiting.");
        return false;
    }
    const uint32_t status = internal::callGuarded([this, &path, handle]() -> uint32_t {
        return m_dllApi->loadLibrary(path, handle) ? MODULE_STATUS_SUCCESS : MODULE_STATUS_UNSUCCESSFUL;
    });
    if (status != MODULE_STATUS_SUCCESS) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::DllLoader::loadDLL",
                L"Failed to load library. Error code: %ls(%lu).", moduleStatusToString(status),
                static_cast<unsigned long>(status));
        return false;
    }
    return true;
}

FARPROC DllLoader::getProcAddress(HMODULE module, const char* name)
{
    FARPROC address = nullptr;
    internal::callGuarded([this, module, name, &address]() -> uint32_t {
        address = m_dllApi->getProcAddress(module, name);
        if (!address) {
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Ostrand::DllLoader::getProcAddress",
                    L"getProcAddress was unsuccessful in finding the handle's address");
            return MODULE_STATUS_INVALID_HANDLE;
        }
        return MODULE_STATUS_SUCCESS;
    });
    return address;
}

bool DllLoader::freeDLL(HMODULE module)
{
    return m_dllApi->freeLibrary(module);
}

} // namespace Ostrand
