#include "RegistryString.h"

#include "Registry/CRegKey.h"

bool readRegistryString(const wchar_t* subkey, const wchar_t* valueName, std::wstring& value)
{
    Halvex::CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, subkey, KEY_READ) != ERROR_SUCCESS)
        return false;
    wchar_t buffer[MAX_PATH] = {};
    DWORD chars = MAX_PATH;
    if (key.QueryStringValue(valueName, buffer, &chars) != ERROR_SUCCESS)
        return false;
    value.assign(buffer, wcsnlen(buffer, MAX_PATH));
    return true;
}
