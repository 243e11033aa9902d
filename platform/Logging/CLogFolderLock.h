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
// nobody else can open it, not even to read it.
//
// A waiter cannot be woken (the system has no bounded wait on such a file),
// so it tries again after short pauses; lest it lose every turn to writers
// that come back at once, it reserves the next turn with a second such file,
// and writers that find a reservation not their own give the turn up.
class CLogFolderLock {
public:
    static constexpr const wchar_t* kFileName = L"log.lock";
    static constexpr const wchar_t* kReservationName = L"log.next";

    CLogFolderLock() = default;
    CLogFolderLock(const CLogFolderLock&) = delete;
    CLogFolderLock& operator=(const CLogFolderLock&) = delete;

    void Open(const std::wstring& folder)
    {
        m_path = folder + L"\\" + kFileName;
        m_reservationPath = folder + L"\\" + kReservationName;
    }
    void Close()
    {
        m_path.clear();
        m_reservationPath.clear();
    }

    // Holds the turn for its life when it could be had within what the
    // budget allows; otherwise holds nothing, and the writer goes on all the
    // same rather than hang on a holder that never lets go.
    class Guard {
    public:
        Guard(CLogFolderLock& lock, CLogWaitBudget& budget);
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

        CLogFolderLock& m_lock;
        CLogWaitBudget& m_budget;
        HANDLE m_file = INVALID_HANDLE_VALUE;
        HANDLE m_reservation = INVALID_HANDLE_VALUE;
        DWORD m_error = 0;
    };

private:
    enum class Attempt { Taken, Busy, Unavailable };
    Attempt TryTake(HANDLE& file, DWORD& error, bool reserved) const;
    bool ReservedByAnother() const;
    // Changes when the turn (or, unless it is the caller's, its reservation)
    // changes hands.
    uint64_t HolderStamp(bool withReservation) const;

    std::wstring m_path;
    std::wstring m_reservationPath;
};

} // namespace ETWLogging
