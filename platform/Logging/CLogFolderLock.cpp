#include "Logging/CLogFolderLock.h"

#include <algorithm>
#include <atomic>

namespace ETWLogging {

namespace {

// A holder needs well under a millisecond for its line: the pauses stay short.
const DWORD kFirstPause = 1;
const DWORD kLongestPause = 2;
// A turn that keeps changing hands is busy, not held up: it is waited for
// while it moves, up to this many waits in all.
const uint64_t kMostWaitsWhileMoving = 10;

// When the file was made and last written; zero when there is none. A turn's
// file is made anew for every turn.
uint64_t fileStamp(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    const uint64_t made = (static_cast<uint64_t>(data.ftCreationTime.dwHighDateTime) << 32) |
                          data.ftCreationTime.dwLowDateTime;
    const uint64_t written = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                             data.ftLastWriteTime.dwLowDateTime;
    return made * 31 + written;
}

HANDLE createLockFile(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

void closeFile(HANDLE& file)
{
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
}

} // namespace

uint64_t CLogFolderLock::LongestWait(DWORD wait)
{
    return wait * kMostWaitsWhileMoving;
}

uint64_t CLogFolderLock::HolderStamp() const
{
    return fileStamp(m_path);
}

bool CLogFolderLock::ClearName() const
{
    static std::atomic<unsigned long> cleared{0};
    wchar_t suffix[64];
    swprintf(suffix, 64, L".%lu-%lu-%lu.old", GetCurrentProcessId(), GetCurrentThreadId(), ++cleared);
    const std::wstring aside = m_path + suffix;
    // A writer's lock file, open without sharing, cannot be moved.
    if (!MoveFileExW(m_path.c_str(), aside.c_str(), 0))
        return false;
    SetFileAttributesW(aside.c_str(), FILE_ATTRIBUTE_NORMAL);
    // A folder that holds something stays aside under its new name.
    if (!DeleteFileW(aside.c_str()))
        RemoveDirectoryW(aside.c_str());
    return true;
}

CLogFolderLock::Attempt CLogFolderLock::TryTake(HANDLE& file, DWORD& error) const
{
    error = 0;
    if (m_path.empty()) {
        error = ERROR_INVALID_PARAMETER;
        return Attempt::Unavailable;
    }
    file = createLockFile(m_path);
    if (file != INVALID_HANDLE_VALUE)
        return Attempt::Taken;
    const DWORD created = GetLastError();
    // Something has the name: a writer's turn, or something else (a folder,
    // and a file deleted while a handle still has it open, are refused with
    // ERROR_ACCESS_DENIED). Refused with nothing at the name: this account
    // may not make files in the folder, and waiting would not change that.
    const bool nothingThere = created == ERROR_ACCESS_DENIED &&
                              GetFileAttributesW(m_path.c_str()) == INVALID_FILE_ATTRIBUTES &&
                              GetLastError() == ERROR_FILE_NOT_FOUND;
    if ((created != ERROR_FILE_EXISTS && created != ERROR_ALREADY_EXISTS && created != ERROR_ACCESS_DENIED &&
         created != ERROR_SHARING_VIOLATION) ||
        nothingThere) {
        error = created;
        return Attempt::Unavailable;
    }
    if (!ClearName())
        return Attempt::Busy;
    file = createLockFile(m_path);
    return file != INVALID_HANDLE_VALUE ? Attempt::Taken : Attempt::Busy;
}

CLogFolderLock::Guard::Guard(const CLogFolderLock& lock, CLogWaitBudget& budget, Wait wait)
    : m_lock(lock), m_budget(budget), m_wait(wait)
{
    Take();
}

CLogFolderLock::Guard::~Guard()
{
    closeFile(m_file);
}

void CLogFolderLock::Guard::TryAgain()
{
    if (m_file == INVALID_HANDLE_VALUE)
        Take();
}

void CLogFolderLock::Guard::Take()
{
    if (m_lock.TryTake(m_file, m_error) != Attempt::Busy || m_wait == Wait::No)
        return;
    CLogWaitBudget::Clock& clock = m_budget.GetClock();
    const DWORD allowed = m_wait == Wait::Always ? m_budget.Wait() : m_budget.WaitAllowed();
    if (allowed == 0)
        return;
    const uint64_t start = clock.Now();
    const uint64_t longest = LongestWait(allowed);
    // The wait runs out after `allowed` without the turn changing hands (a
    // holder that never lets go), or after `longest` in all.
    uint64_t stillSince = start;
    uint64_t holder = m_lock.HolderStamp();
    DWORD pause = kFirstPause;
    for (;;) {
        const uint64_t now = clock.Now();
        const uint64_t seen = m_lock.HolderStamp();
        if (seen != holder)
            stillSince = now;
        holder = seen;
        const uint64_t left = std::min(stillSince + allowed, start + longest);
        if (now >= left) {
            m_budget.WaitRanOut(now);
            return;
        }
        clock.Pause(static_cast<DWORD>(std::min<uint64_t>(pause, left - now)));
        pause = std::min(pause * 2, kLongestPause);
        if (m_lock.TryTake(m_file, m_error) != Attempt::Busy)
            return;
    }
}

} // namespace ETWLogging
