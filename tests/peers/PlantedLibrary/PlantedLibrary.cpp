// Planted under a system library's name. When loaded, it appends a line to
// the file named in PLANTED_LIBRARY_MARKER.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t marker[MAX_PATH + 1] = {};
    const DWORD length = GetEnvironmentVariableW(L"PLANTED_LIBRARY_MARKER", marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return TRUE;
    HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, "loaded\n", 7, &written, nullptr);
        CloseHandle(file);
    }
    return TRUE;
}
