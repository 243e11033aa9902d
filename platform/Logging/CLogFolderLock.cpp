#include "Logging/CLogFolderLock.h"

#include <algorithm>

namespace ETWLogging {

namespace {

// A holder needs well under a millisecond for its line: the pauses stay
// short, as a turn given up for a reservation stays unused until its waiter
// comes back.
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

uint64_t CLogFolderLock::HolderStamp(bool withReservation) const
{
    return fileStamp(m_path) * 31 + (withReservation ? fileStamp(m_reservationPath) : 0);
}

bool CLogFolderLock::ReservedByAnother() const
{
    if (GetFileAttributesW(m_reservationPath.c_str()) == INVALID_FILE_ATTRIBUTES)
        return false;
    // A reservation that no handle holds was left by a waiter that ended with
    // its machine.
    return !DeleteFileW(m_reservationPath.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND;
}

CLogFolderLock::Attempt CLogFolderLock::TryTake(HANDLE& file, DWORD& error, bool reserved) const
{
    error = 0;
    if (m_path.empty()) {
        error = ERROR_INVALID_PARAMETER;
        return Attempt::Unavailable;
    }
    file = createLockFile(m_path);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD created = GetLastError();
        // A lock file deleted by its holder while another handle still has it
        // open is refused until that handle closes.
        if (created == ERROR_ACCESS_DENIED || created == ERROR_SHARING_VIOLATION)
            return Attempt::Busy;
        if (created != ERROR_FILE_EXISTS && created != ERROR_ALREADY_EXISTS) {
            error = created;
            return Attempt::Unavailable;
        }
        // A lock file that no handle holds was left by a holder that ended
        // with its machine: it is nobody's turn. A held one cannot be deleted,
        // as it was made without sharing.
        if (!DeleteFileW(m_path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
            return Attempt::Busy;
        file = createLockFile(m_path);
        if (file == INVALID_HANDLE_VALUE)
            return Attempt::Busy;
    }
    if (reserved || !ReservedByAnother())
        return Attempt::Taken;
    closeFile(file);
    return Attempt::Busy;
}

CLogFolderLock::Guard::Guard(CLogFolderLock& lock, CLogWaitBudget& budget) : m_lock(lock), m_budget(budget)
{
    Take();
}

CLogFolderLock::Guard::~Guard()
{
    closeFile(m_reservation);
    closeFile(m_file);
}

void CLogFolderLock::Guard::TryAgain()
{
    if (m_file == INVALID_HANDLE_VALUE)
        Take();
}

void CLogFolderLock::Guard::Take()
{
    CLogWaitBudget::Clock& clock = m_budget.GetClock();
    const DWORD allowed = m_budget.WaitAllowed();
    const uint64_t start = clock.Now();
    const uint64_t longest = allowed * kMostWaitsWhileMoving;
    // The wait runs out after `allowed` without the turn changing hands (a
    // holder that never lets go), or after `longest` in all.
    uint64_t stillSince = start;
    uint64_t holder = 0;
    bool holderSeen = false;
    DWORD pause = kFirstPause;
    for (;;) {
        if (m_lock.TryTake(m_file, m_error, m_reservation != INVALID_HANDLE_VALUE) != Attempt::Busy)
            break;
        const uint64_t now = clock.Now();
        if (allowed > 0) {
            const uint64_t seen = m_lock.HolderStamp(m_reservation == INVALID_HANDLE_VALUE);
            if (holderSeen && seen != holder)
                stillSince = now;
            holder = seen;
            holderSeen = true;
        }
        const uint64_t left = std::min(stillSince + allowed, start + longest);
        if (now >= left) {
            if (allowed > 0)
                m_budget.WaitRanOut(now);
            break;
        }
        if (m_reservation == INVALID_HANDLE_VALUE) {
            m_reservation = createLockFile(m_lock.m_reservationPath);
            // Our own reservation is no change of hands.
            holderSeen = holderSeen && m_reservation == INVALID_HANDLE_VALUE;
        }
        clock.Pause(static_cast<DWORD>(std::min<uint64_t>(pause, left - now)));
        pause = std::min(pause * 2, kLongestPause);
    }
    closeFile(m_reservation);
}

} // namespace ETWLogging
