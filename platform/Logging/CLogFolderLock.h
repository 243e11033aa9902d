#pragma once
#include "Logging/CLogWaitBudget.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace ETWLogging {

// The turn that every writer of one log folder, in whatever process, takes
// around a line, a rotation and a rewrite of the folder's ini file. A turn is
// the folder's lock file, created for the turn without sharing and deleted by
// the system when its handle closes, also when its process ends. So only who
// may create a file in the folder can take a turn, or keep others from one:
// someone who could damage the log files anyway. While the file is there
// nobody else can open, move or delete it.
//
// Anything else found at that name (a file left by a writer that ended with
// its machine, a folder, a read-only file, a file someone holds open while
// letting it be deleted) is moved aside and removed, so that no such name
// keeps the turns from the writers for longer than it takes to try.
class CLogFolderLock {
public:
    static constexpr const wchar_t* kFileName = L"log.lock";

    CLogFolderLock() = default;
    CLogFolderLock(const CLogFolderLock&) = delete;
    CLogFolderLock& operator=(const CLogFolderLock&) = delete;

    void Open(const std::wstring& folder) { m_path = folder + L"\\" + kFileName; }
    void Close() { m_path.clear(); }

    // How long a guard may wait for the turn.
    enum class Wait {
        No,        // one attempt
        AsAllowed, // as the budget allows now, none while it backs off
        Always,    // the budget's bounded wait, even while it backs off
    };

    // The longest a guard waits, in the budget's milliseconds, for a bounded
    // wait of `wait`.
    static uint64_t LongestWait(DWORD wait);

    // Holds the turn for its life when it could be had within the wait;
    // otherwise holds nothing, and the writer must not touch the files.
    class Guard {
    public:
        Guard(const CLogFolderLock& lock, CLogWaitBudget& budget, Wait wait);
        ~Guard();
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

        bool Held() const { return m_file != INVALID_HANDLE_VALUE; }
        // Why the lock file could not be made, when not for someone else's
        // turn (ERROR_PATH_NOT_FOUND: the folder is gone); 0 otherwise.
        DWORD Error() const { return m_error; }
        // Once more, after the folder was made again.
        void TryAgain();

    private:
        void Take();

        const CLogFolderLock& m_lock;
        CLogWaitBudget& m_budget;
        const Wait m_wait;
        HANDLE m_file = INVALID_HANDLE_VALUE;
        DWORD m_error = 0;
    };

private:
    enum class Attempt { Taken, Busy, Unavailable };
    Attempt TryTake(HANDLE& file, DWORD& error) const;
    // Moves what holds the lock file's name aside and removes it; false when
    // it cannot be moved (a writer's turn, or a name someone keeps).
    bool ClearName() const;
    // Changes when the turn changes hands.
    uint64_t HolderStamp() const;

    std::wstring m_path;
};

} // namespace ETWLogging
