// The four exports and the entry point of a module library. Compiled into each
// module DLL (not into the SDK library), with ModuleExports.def naming the
// only symbols that leave it.
#include "dll/ModuleTable.h"

#include <windows.h>

extern "C" {

const void* CreateObject(uint32_t /*version*/)
{
    return Ostrand::internal::moduleFunctionTable();
}

void ReleaseObject(const void* /*object*/) {}

const char* GetVersionStr()
{
    return MODULE_LIBRARY_VERSION_STR;
}

uint32_t GetVersionNum()
{
    return MODULE_LIBRARY_VERSION_NUM;
}

// All set-up happens in the table entries: nothing may run under the loader lock.
BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/)
{
    return TRUE;
}

} // extern "C"
