#include "Logging/CDefaultLogBuilder.h"
#include "Registry/CObfuscatedRegKey.h"

namespace ETWLogging {

uint32_t CDefaultLogBuilder::ReadMechanism(Halvex::CRegKey* key, bool& keyOpened)
{
    DWORD value = 0;
    if (key) {
        keyOpened = true;
        if (key->QueryDWORDValue(kLoggingMechanismValue, value) != ERROR_SUCCESS)
            value = 0;
        return value;
    }
    Halvex::CObfuscatedRegKey machineKey;
    keyOpened = machineKey.Open(HKEY_LOCAL_MACHINE, kLoggingKeyPath, KEY_QUERY_VALUE) == ERROR_SUCCESS;
    if (!keyOpened || machineKey.QueryDWORDValue(kLoggingMechanismValue, value) != ERROR_SUCCESS)
        value = 0;
    return value;
}

bool CDefaultLogBuilder::BuildEx(const wchar_t* app, const wchar_t* group, HMODULE module, const wchar_t* host,
                                 uint32_t mechanism, CLoggingIf** out, Halvex::CRegKey* key)
{
    if (mechanism == LOG_MECHANISM_FILE)
        return CreateFileLogger(app, group, module, host, out);
    bool keyOpened = false;
    if (ReadMechanism(key, keyOpened) == LOG_MECHANISM_FILE)
        return CreateFileLogger(app, group, module, host, out);
    return CreateETWLogger(app, group, module, host, out);
}

bool CDefaultLogBuilder::Build(const wchar_t* group, HMODULE module, const wchar_t* host, uint32_t mechanism,
                               CLoggingIf** out, Halvex::CRegKey* key)
{
    return BuildEx(nullptr, group, module, host, mechanism, out, key);
}

} // namespace ETWLogging
