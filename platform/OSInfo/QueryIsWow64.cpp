#include "OSInfo/QueryIsWow64.h"

#include <windows.h>

namespace Halvex {
namespace internal {

bool QueryIsWow64()
{
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    if (!kernel)
        return false;
    const auto isWow64Process =
        reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
    if (!isWow64Process)
        return false;
    BOOL wow64 = FALSE;
    return isWow64Process(GetCurrentProcess(), &wow64) && wow64 == 1;
}

} // namespace internal
} // namespace Halvex
