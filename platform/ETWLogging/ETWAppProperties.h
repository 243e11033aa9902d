#pragma once
#include <windows.h>

#include <string>

namespace ETWLogging {
namespace internal {

// The ETW configuration record of one application: read from
// "SOFTWARE\Corvane.logging\<app>" in the machine hive (values enciphered),
// or the built-in record of the default application "ZOR".
class ETWAppProperties {
public:
    ETWAppProperties() = default;
    virtual ~ETWAppProperties() = default;
    ETWAppProperties(const ETWAppProperties& other) { CopyFrom(other); }
    ETWAppProperties& operator=(const ETWAppProperties& other)
    {
        CopyFrom(other);
        return *this;
    }

    // Loads once: false when a record is loaded already, the ProgramData
    // folder cannot be had, a required registry value is missing, or there is
    // no registry record and the application is not "ZOR".
    virtual bool Load(const wchar_t* app);
    virtual bool GetProgramDataFolder();
    virtual bool LoadFromRegistry(HKEY appKey);
    virtual bool LoadDefaults();
    virtual const wchar_t* GetEtlFileName() const { return L"cvlogs.etl"; }
    virtual const wchar_t* GetRegistryRoot() const { return L"SOFTWARE\\Corvane.logging"; }
    // Root + "\" + application name, then "\" + subkey when given.
    virtual std::wstring GetAppKeyPath(const wchar_t* subkey) const;

    void CopyFrom(const ETWAppProperties& other);

    std::wstring appName;
    std::wstring programDataFolder;
    GUID sessionGuid = {};
    std::wstring sessionName;
    GUID providerGuid = {};
    std::wstring ownerMutexName;
    std::wstring logPath;
    std::wstring etlPath;
    std::wstring etlFilePath;
    std::wstring controllerPath;
    HKEY rootKey = HKEY_LOCAL_MACHINE;
    std::wstring appKeyPath;
    std::wstring controllerKeyPath;
    std::wstring providerKeyPath;
    std::wstring appKeyPathCopy;

private:
    void SetPaths(const std::wstring& logTail, const std::wstring& etlTail);
};

} // namespace internal
} // namespace ETWLogging
