// Stands in for a planted Cabinet.dll: mapping it sets the event
// "Local\CabinetDoubleLoaded-<process id>" when the process made one.
#include <windows.h>

#include <cwchar>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t name[64];
        swprintf(name, 64, L"Local\\CabinetDoubleLoaded-%lu", GetCurrentProcessId());
        HANDLE mark = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
        if (mark) {
            SetEvent(mark);
            CloseHandle(mark);
        }
    }
    return TRUE;
}
