// Entry point of the app-code registrar: records and removes the codes that
// depend on the component and uninstalls it after the last one. Reports only
// through the log and the exit code.
#include "CollectiveRegistrar.h"
#include "ComponentUninstaller.h"
#include "RegistryKeys.h"
#include "RegistryString.h"
#include "SecureDllLoading.h"

int wmain(int argc, wchar_t** argv)
{
    // Every system library but kernel32 and shell32 is bound on first use:
    // nothing may reach one before the search is restricted.
    if (!enableSecureDllLoading())
        return 1;
    std::wstring componentFolder;
    if (!readRegistryString(kComponentKey, kInstallDirValue, componentFolder))
        return 1;
    Ostrand::CollectiveRegistrar registrar(componentFolder + L"\\" + kRegistryFileName, uninstallComponent);
    return registrar.execute(argc, argv) ? 0 : 1;
}
