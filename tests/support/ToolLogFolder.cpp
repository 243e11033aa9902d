#include "ToolLogFolder.h"

#include "FileSystem/FileSystem.h"
#include "Ini/CObfuscatedIniReader.h"
#include "Logging/CDefaultLogBuilder.h"
#include "Registry/CObfuscatedRegKey.h"
#include "System/KnownFolderPath.h"

#include <knownfolders.h>

#include <cwchar>

ToolLogFolder::ToolLogFolder(const std::wstring& moduleName, const std::wstring& group, const std::wstring& host)
    : m_moduleName(moduleName), m_host(host)
{
    // The same lock as the logging tests that change the mechanism value.
    m_lock = CreateMutexW(nullptr, FALSE, L"Global\\SentrelTests.LoggingMechanism");
    if (!m_lock)
        return;
    const DWORD waited = WaitForSingleObject(m_lock, 60000);
    m_locked = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    if (!m_locked)
        return;

    Halvex::CObfuscatedRegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, ETWLogging::kLoggingKeyPath) != ERROR_SUCCESS)
        return;
    m_hadMechanism = key.QueryDWORDValue(ETWLogging::kLoggingMechanismValue, m_mechanism) == ERROR_SUCCESS;
    if (key.SetDWORDValue(ETWLogging::kLoggingMechanismValue, 1) != ERROR_SUCCESS)
        return;

    Halvex::ShlObjAPI shell;
    std::wstring programData;
    if (!Halvex::internal::GetKnownFolderPath(shell, FOLDERID_ProgramData, programData))
        return;
    m_folder = programData + L"\\Corvane\\CVLOGS\\" + group + L"\\" + m_moduleName;
    Halvex::RemoveDirectoryTree(m_folder.c_str());
    if (Halvex::CreateDirectoryPath(m_folder.c_str()) != ERROR_SUCCESS)
        return;
    Halvex::CObfuscatedIniReader ini;
    ini.Load(m_folder + L"\\log.ini");
    m_ready = ini.SetInt(L"Config", L"Options", 0x3C) && ini.SetInt(L"Config", L"MaxSize", 0xA00000) &&
              ini.SetInt(L"Config", L"MaxEntries", 10) && ini.SetInt(L"Config", L"Severity", 1);
}

ToolLogFolder::~ToolLogFolder()
{
    if (!m_folder.empty())
        Halvex::RemoveDirectoryTree(m_folder.c_str());
    Halvex::CObfuscatedRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, ETWLogging::kLoggingKeyPath, KEY_ALL_ACCESS) == ERROR_SUCCESS) {
        if (m_hadMechanism)
            key.SetDWORDValue(ETWLogging::kLoggingMechanismValue, m_mechanism);
        else
            key.DeleteValue(ETWLogging::kLoggingMechanismValue);
    }
    if (m_locked)
        ReleaseMutex(m_lock);
    if (m_lock)
        CloseHandle(m_lock);
}

// <folder>\<module>_<host>NNN.log, or <folder>\<module>NNN.log without a host.
std::wstring ToolLogFolder::file(unsigned index) const
{
    wchar_t suffix[16];
    swprintf(suffix, 16, L"%03u.log", index);
    return m_folder + L"\\" + m_moduleName + (m_host.empty() ? L"" : L"_" + m_host) + suffix;
}

std::vector<TestSupport::LogLine> ToolLogFolder::lines() const
{
    std::vector<TestSupport::LogLine> all;
    for (unsigned index = 0; index < kMaxFiles; ++index)
        for (TestSupport::LogLine& line : TestSupport::LogFile::readFile(file(index)))
            all.push_back(std::move(line));
    return all;
}

void ToolLogFolder::clear() const
{
    for (unsigned index = 0; index < kMaxFiles; ++index)
        DeleteFileW(file(index).c_str());
}
