#include "ETWLogging/ETWAppProperties.h"
#include "Registry/CObfuscatedRegKey.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <cwchar>

namespace ETWLogging {
namespace internal {

namespace {

const wchar_t kDefaultApp[] = L"ZOR";
const wchar_t kDefaultLogTail[] = L"\\Corvane\\CVLOGS";
const wchar_t kDefaultEtlTail[] = L"\\Corvane\\CVLOGS\\ETW";

// {491FB070-54CC-11E0-B8AF-0800200C9A66}
const GUID kDefaultSessionGuid = {0x491FB070, 0x54CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
// {E16CA450-55CC-11E0-B8AF-0800200C9A66}
const GUID kDefaultProviderGuid = {0xE16CA450, 0x55CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};

bool readString(Halvex::CRegKey& key, const wchar_t* name, std::wstring& value)
{
    return key.QueryStringValue(name, value) == ERROR_SUCCESS;
}

} // namespace

void ETWAppProperties::CopyFrom(const ETWAppProperties& other)
{
    if (this == &other)
        return;
    appName = other.appName;
    programDataFolder = other.programDataFolder;
    sessionGuid = other.sessionGuid;
    sessionName = other.sessionName;
    providerGuid = other.providerGuid;
    ownerMutexName = other.ownerMutexName;
    logPath = other.logPath;
    etlPath = other.etlPath;
    etlFilePath = other.etlFilePath;
    controllerPath = other.controllerPath;
    rootKey = other.rootKey;
    appKeyPath = other.appKeyPath;
    controllerKeyPath = other.controllerKeyPath;
    providerKeyPath = other.providerKeyPath;
    appKeyPathCopy = other.appKeyPathCopy;
}

std::wstring ETWAppProperties::GetAppKeyPath(const wchar_t* subkey) const
{
    std::wstring path = std::wstring(GetRegistryRoot()) + L"\\" + appName;
    if (subkey)
        path += std::wstring(L"\\") + subkey;
    return path;
}

bool ETWAppProperties::GetProgramDataFolder()
{
    if (!programDataFolder.empty())
        return true;
    PWSTR path = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_CREATE, nullptr, &path);
    const bool ok = SUCCEEDED(hr) && path && *path;
    if (ok)
        programDataFolder = path;
    CoTaskMemFree(path);
    return ok;
}

bool ETWAppProperties::Load(const wchar_t* app)
{
    if (!appName.empty())
        return false;
    appName = (app && *app) ? app : kDefaultApp;
    if (!GetProgramDataFolder())
        return false;

    HKEY appKey = nullptr;
    if (RegOpenKeyExW(rootKey, GetAppKeyPath(nullptr).c_str(), 0, KEY_QUERY_VALUE, &appKey) == ERROR_SUCCESS)
        return LoadFromRegistry(appKey);
    return LoadDefaults();
}

void ETWAppProperties::SetPaths(const std::wstring& logTail, const std::wstring& etlTail)
{
    logPath = programDataFolder + logTail;
    etlPath = programDataFolder + etlTail;
    etlFilePath = etlPath + L"\\" + GetEtlFileName();
}

bool ETWAppProperties::LoadFromRegistry(HKEY appKey)
{
    Halvex::CObfuscatedRegKey key;
    key.Attach(appKey);

    std::wstring logTail = kDefaultLogTail;
    std::wstring etlTail = kDefaultEtlTail;
    std::wstring value;
    if (readString(key, L"Log Path", value))
        logTail = value;
    if (readString(key, L"ETL Path", value))
        etlTail = value;

    Halvex::CObfuscatedRegKey controller, session, provider;
    if (controller.Open(appKey, L"Controller", KEY_QUERY_VALUE) != ERROR_SUCCESS ||
        session.Open(appKey, L"Session", KEY_QUERY_VALUE) != ERROR_SUCCESS ||
        provider.Open(appKey, L"Provider", KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return false;

    ETWAppProperties loaded(*this);
    if (!readString(controller, L"Controller Path", loaded.controllerPath) ||
        !readString(controller, L"Owner Mutex Name", loaded.ownerMutexName) ||
        session.QueryGUIDValue(L"Session ID Guid", loaded.sessionGuid) != ERROR_SUCCESS ||
        !readString(session, L"Session Name", loaded.sessionName) ||
        provider.QueryGUIDValue(L"Provider Guid", loaded.providerGuid) != ERROR_SUCCESS)
        return false;
    loaded.SetPaths(logTail, etlTail);
    loaded.appKeyPath = GetAppKeyPath(nullptr);
    loaded.controllerKeyPath = GetAppKeyPath(L"Controller");
    loaded.providerKeyPath = GetAppKeyPath(L"Provider");
    loaded.appKeyPathCopy = loaded.appKeyPath;
    CopyFrom(loaded);
    return true;
}

bool ETWAppProperties::LoadDefaults()
{
    if (_wcsicmp(appName.c_str(), kDefaultApp) != 0)
        return false;
    appKeyPath = L"SOFTWARE\\Corvane\\Logging";
    controllerKeyPath = appKeyPath + L"\\Controller";
    providerKeyPath = appKeyPath + L"\\Provider";
    appKeyPathCopy = appKeyPath;
    SetPaths(kDefaultLogTail, kDefaultEtlTail);
    ownerMutexName = L"Global\\Corvane.{0696D115-BE52-46c3-BFEE-D73A305B6581}";
    sessionGuid = kDefaultSessionGuid;
    sessionName = L"Corvane.{E4367DA7-2B80-47f3-86D2-7626A18FC6F4}";
    providerGuid = kDefaultProviderGuid;
    controllerPath.clear();
    return true;
}

} // namespace internal
} // namespace ETWLogging
