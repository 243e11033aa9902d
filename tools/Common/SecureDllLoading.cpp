#include "SecureDllLoading.h"

#include <windows.h>

bool enableSecureDllLoading()
{
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (!kernel)
        return false;
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    // Looked up rather than imported: an import would make a system without
    // it refuse to start the tool at all instead of letting it exit with 1.
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (!setDefault)
        return false;
    return setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) == 1;
}
