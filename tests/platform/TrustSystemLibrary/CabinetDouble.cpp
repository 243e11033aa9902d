// Stands in for a planted Cabinet.dll: mapping it leaves the load mark
// "CabinetDoubleLoaded".
#include "LoadMark.h"

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        LoadMark::leave(L"CabinetDoubleLoaded");
    return TRUE;
}
