#pragma once
#include "RegistryFileLock.h"

#include <windows.h>

#include <string>

namespace TolvaneTests {

// What keeps a run of the registrar waiting: another program that holds the
// registry file without sharing; another run in its turn, which holds the
// lock on the lock file beside it; or another program (a copy, a backup) that
// holds the lock file itself, without sharing or sharing reading only.
enum class Holder { RegistryFile, Turn, LockFileUnshared, LockFileSharedForReading };

// Takes `path` (the registry file, or the lock file for the others) the way
// that holder does; the handle lets go when closed. INVALID_HANDLE_VALUE when
// it could not be taken.
inline HANDLE hold(Holder holder, const std::wstring& path)
{
    switch (holder) {
    case Holder::RegistryFile: return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    case Holder::LockFileUnshared: return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    case Holder::LockFileSharedForReading:
        return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    case Holder::Turn: break;
    }
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    OVERLAPPED range = {};
    range.Offset = static_cast<DWORD>(Ostrand::RegistryFileLock::kTurnOffset);
    range.OffsetHigh = static_cast<DWORD>(Ostrand::RegistryFileLock::kTurnOffset >> 32);
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range))
        return file;
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
}

} // namespace TolvaneTests
