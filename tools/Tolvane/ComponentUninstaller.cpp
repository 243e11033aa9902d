#include "ComponentUninstaller.h"

#include "OSPlatform.h"
#include "ProcessRunner.h"
#include "RegistryFileLock.h"
#include "RegistryKeys.h"
#include "RegistryString.h"

#include <windows.h>

#include <vector>

namespace {

// The full path of this program. A path that does not fit is never cut short:
// the buffer grows, so a truncated name cannot schedule another file's deletion.
std::wstring ownFilePath()
{
    std::vector<wchar_t> buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        if (buffer.size() >= 32768)
            return {};
        buffer.assign(buffer.size() * 2, L'\0');
    }
}

void deleteAtRestart(const std::wstring& path)
{
    if (!path.empty())
        MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

} // namespace

std::wstring installerCommandLine(const std::wstring& installerFolder, const std::wstring& componentFolder,
                                  int32_t platform)
{
    const wchar_t* infFile = platform != 0 ? L"sentrel64.inf" : L"sentrel32.inf";
    return L"\"" + installerFolder + L"\\CvInst.exe\" /uninstall \"" + componentFolder + L"\\" + infFile + L"\"";
}

bool uninstallComponent(const wchar_t* registryFile)
{
    std::wstring installerFolder;
    if (!readRegistryString(kInstallerKey, kInstallDirValue, installerFolder))
        return false;
    std::wstring componentFolder;
    if (!readRegistryString(kComponentKey, kInstallDirValue, componentFolder))
        return false;
    DWORD installerExitCode = 0;
    if (!runProcess(installerCommandLine(installerFolder, componentFolder, getPlatformValue()), installerExitCode))
        return false;
    if (!componentFolder.empty()) {
        deleteAtRestart(ownFilePath());
        if (registryFile) {
            deleteAtRestart(registryFile);
            // Or the folder would never be empty enough to go.
            deleteAtRestart(Ostrand::RegistryFileLock::lockFileFor(registryFile));
        }
        deleteAtRestart(componentFolder);
    }
    return true;
}
