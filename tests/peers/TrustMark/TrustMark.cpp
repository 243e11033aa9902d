// The marking library: whenever one of its copies is mapped and its DllMain
// runs, it leaves the load mark "TrustMarkLoaded" (LoadMark.h), so a test
// sees that the file's code ran at all.
//
// With TRUST_MARK_PROBE set in the environment it also tries, from inside
// its own load, to move the way to its file: rename its file, rename the
// folder holding it, open its file for writing and for deletion. What each
// attempt answered (0 when it succeeded; the rename is then undone) is left
// in TRUST_MARK_PROBE_RESULT as "file=N folder=N write=N delete=N".
#include <windows.h>

#include "LoadMark.h"

#include <cwchar>
#include <string>

namespace {

DWORD tryRename(const std::wstring& from)
{
    const std::wstring to = from + L"-moved";
    if (!MoveFileExW(from.c_str(), to.c_str(), 0))
        return GetLastError();
    MoveFileExW(to.c_str(), from.c_str(), 0);
    return 0;
}

DWORD tryOpen(const std::wstring& path, DWORD access)
{
    HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError();
    CloseHandle(h);
    return 0;
}

void probe(HINSTANCE self)
{
    wchar_t file[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(self, file, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    std::wstring path(file, n);
    std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
    wchar_t text[128];
    swprintf(text, 128, L"file=%lu folder=%lu write=%lu delete=%lu", tryRename(path), tryRename(folder),
             tryOpen(path, GENERIC_WRITE), tryOpen(path, DELETE));
    SetEnvironmentVariableW(L"TRUST_MARK_PROBE_RESULT", text);
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    LoadMark::leave(L"TrustMarkLoaded");
    if (GetEnvironmentVariableW(L"TRUST_MARK_PROBE", nullptr, 0) != 0)
        probe(self);
    return TRUE;
}

extern "C" __declspec(dllexport) DWORD TrustMarkAnswer()
{
    return 7;
}
