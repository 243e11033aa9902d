// Prints what logging costs: a call site at a disabled level beside an empty
// virtual call (the price the front door aims at), taking turns in one run,
// and lines per second through the front door to the file logger (which takes
// the folder's turn and opens and closes its file around every line) next to
// the same lines written to a file kept open.
#include "FileSystem/FileSystem.h"
#include "FormatString.h"
#include "Logging/CLogging.h"
#include "Logging/Log.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double seconds(LARGE_INTEGER start, LARGE_INTEGER end)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER now()
{
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value;
}

// The baseline: a virtual call that does nothing, through a pointer the
// compiler cannot see through.
class Probe {
public:
    virtual ~Probe() = default;
    virtual bool passes(uint32_t level);
};

bool Probe::passes(uint32_t)
{
    return false;
}

Probe g_probeObject;
Probe* volatile g_probe = &g_probeObject;

const int kCalls = 10000000;

double disabledLevelNs()
{
    const LARGE_INTEGER start = now();
    for (int i = 0; i < kCalls; ++i)
        ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, L"LoggingBench", L"main", L"Never written %d.", i);
    return seconds(start, now()) * 1e9 / kCalls;
}

double emptyVirtualCallNs()
{
    int passed = 0;
    const LARGE_INTEGER start = now();
    for (int i = 0; i < kCalls; ++i)
        if (g_probe->passes(ETWLogging::LOG_LEVEL_NORMAL))
            ++passed;
    const double ns = seconds(start, now()) * 1e9 / kCalls;
    return passed == 0 ? ns : 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main()
{
    const std::wstring group = L"LoggingBench_" + std::to_wstring(GetCurrentProcessId());
    ETWLogging::SetLogIdentity(nullptr, group.c_str(), nullptr, nullptr, 1);
    ETWLogging::CLoggerHolder* holder = ETWLogging::GetLoggerInstance();
    auto* logger = holder ? dynamic_cast<ETWLogging::CLogging*>(holder->Logger()) : nullptr;
    if (!logger) {
        std::printf("The file logger could not be made.\n");
        return 1;
    }
    logger->SetSeverity(ETWLogging::LOG_LEVEL_INFORMATION);
    logger->SetMaxSize(0xA00000);

    std::vector<double> disabled, empty;
    for (int turn = 0; turn < 5; ++turn) {
        disabled.push_back(disabledLevelNs());
        empty.push_back(emptyVirtualCallNs());
    }
    const double disabledNs = median(disabled);
    const double emptyNs = median(empty);
    std::printf("Disabled level: %.2f ns per call site; empty virtual call: %.2f ns; ratio %.2f (medians of 5 turns).\n",
                disabledNs, emptyNs, emptyNs > 0 ? disabledNs / emptyNs : 0.0);

    const int lines = 5000;
    LARGE_INTEGER start = now();
    for (int i = 0; i < lines; ++i)
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, L"LoggingBench", L"main", L"Benchmark line %d of %s.", i, L"the run");
    LARGE_INTEGER end = now();
    const double frontDoor = lines / seconds(start, end);

    const std::wstring path = logger->LogFolder() + L"\\kept-open.log";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("The comparison file could not be made (%lu).\n", GetLastError());
        return 1;
    }
    SYSTEMTIME time;
    start = now();
    for (int i = 0; i < lines; ++i) {
        GetLocalTime(&time);
        std::wstring line;
        logger->FormatLine(time, L"LoggingBench", L"main", 0, ETWLogging::LOG_LEVEL_ERROR,
                           Halvex::FormatString(L"Benchmark line %d of %s.", i, L"the run").c_str(), line);
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
    }
    end = now();
    CloseHandle(file);
    const double keptOpen = lines / seconds(start, end);

    std::printf("Front door to the file logger: %.0f lines per second (%.0f us a line, the folder's turn included).\n",
                frontDoor, 1e6 / frontDoor);
    std::printf("Same lines to a file kept open: %.0f lines per second.\n", keptOpen);
    std::printf("Kept open is %.1f times as fast.\n", keptOpen / frontDoor);

    const std::wstring groupFolder = logger->LogFolder().substr(0, logger->LogFolder().rfind(L'\\'));
    Halvex::RemoveDirectoryTree(groupFolder.c_str());
    return 0;
}
