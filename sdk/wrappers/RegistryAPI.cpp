#include "wrappers/RegistryAPI.h"

#include "ModuleStatus.h"
#include "Registry/CRegKey.h"

#include <cwchar>

namespace Ostrand {

namespace {

const DWORD kStringCapacity = 260;

// A name with a NUL inside would silently name another key or value.
bool usable(const std::wstring& keyPath, const std::wstring& valueName)
{
    return keyPath.find(L'\0') == std::wstring::npos && valueName.find(L'\0') == std::wstring::npos;
}

} // namespace

RegistryAPI::~RegistryAPI() = default;

uint32_t RegistryAPI::readString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& text)
{
    if (!usable(keyPath, valueName))
        return MODULE_STATUS_UNSUCCESSFUL;
    Halvex::CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_READ) != ERROR_SUCCESS)
        return MODULE_STATUS_UNSUCCESSFUL;
    wchar_t buffer[kStringCapacity] = {};
    DWORD chars = kStringCapacity;
    if (key.QueryStringValue(valueName.c_str(), buffer, &chars) != ERROR_SUCCESS)
        return MODULE_STATUS_UNSUCCESSFUL;
    text.assign(buffer, wcsnlen(buffer, kStringCapacity));
    return MODULE_STATUS_SUCCESS;
}

uint32_t RegistryAPI::readDword(const std::wstring& keyPath, const std::wstring& valueName, uint32_t& value)
{
    if (!usable(keyPath, valueName))
        return MODULE_STATUS_UNSUCCESSFUL;
    Halvex::CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_READ) != ERROR_SUCCESS)
        return MODULE_STATUS_UNSUCCESSFUL;
    DWORD number = 0;
    if (key.QueryDWORDValue(valueName.c_str(), number) != ERROR_SUCCESS)
        return MODULE_STATUS_UNSUCCESSFUL;
    value = number;
    return MODULE_STATUS_SUCCESS;
}

} // namespace Ostrand
