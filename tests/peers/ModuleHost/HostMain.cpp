// module_host.exe [--step-timeout-ms=<n>] [--bus=<bus library>] <module library> <step>...
// Exit codes: 0 every step ran, 2 bad command line or library, 3 a step timed out.
#include "HostBus.h"
#include "HostDriver.h"
#include "FamilyLibrary.h"
#include "StepWatchdog.h"

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    int next = 1;
    long limit = 10000;
    const std::wstring timeoutFlag = L"--step-timeout-ms=";
    if (next < argc && std::wstring(argv[next]).compare(0, timeoutFlag.size(), timeoutFlag) == 0)
        limit = std::wcstol(argv[next++] + timeoutFlag.size(), nullptr, 10);
    std::unique_ptr<ModuleHost::FamilyLibrary> busLibrary;
    std::unique_ptr<ModuleHost::HostBus> bus;
    const std::wstring busFlag = L"--bus=";
    if (next < argc && std::wstring(argv[next]).compare(0, busFlag.size(), busFlag) == 0) {
        busLibrary = std::make_unique<ModuleHost::FamilyLibrary>(argv[next++] + busFlag.size());
        bus = std::make_unique<ModuleHost::HostBus>(*busLibrary);
        if (!bus->ready()) {
            std::printf("bus not opened: %s\n", busLibrary->error().c_str());
            return 2;
        }
    }
    if (next >= argc) {
        std::printf("usage: module_host [--step-timeout-ms=<n>] [--bus=<bus library>] <module library> <step>...\n");
        return 2;
    }
    ModuleHost::FamilyLibrary library(argv[next++]);
    if (!library.ready()) {
        std::printf("library not loaded: %s\n", library.error().c_str());
        return 2;
    }
    ModuleHost::HostDriver driver(library, bus.get());
    ModuleHost::StepWatchdog watchdog{std::chrono::milliseconds(limit)};
    for (; next < argc; ++next) {
        const std::wstring step = argv[next];
        watchdog.begin(std::string(step.begin(), step.end()));
        const bool known = driver.run(step);
        watchdog.end();
        if (!known) {
            std::printf("unknown step\n");
            return 2;
        }
    }
    return 0;
}
