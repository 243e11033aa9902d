#pragma once
#include <windows.h>

#include <string>

namespace TolvaneTests {

// What keeps a run of the registrar from the registry file: another program
// that holds the file itself without sharing, or another run in its turn,
// which holds the lock on the lock file beside it.
enum class Holder { RegistryFile, Turn };

// Takes `path` (the registry file, or the lock file for a turn) the way that
// holder does; the handle lets go when closed. INVALID_HANDLE_VALUE when it
// could not be taken.
inline HANDLE hold(Holder holder, const std::wstring& path)
{
    if (holder == Holder::RegistryFile)
        return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    OVERLAPPED range = {};
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range))
        return file;
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

} // namespace TolvaneTests
