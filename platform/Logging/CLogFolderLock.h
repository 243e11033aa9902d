#pragma once
#include <windows.h>

#include <string>

namespace ETWLogging {

// The lock that every writer of one log folder, in whatever process, takes
// around a line, a rotation and a rewrite of the folder's ini file: a named
// mutex whose name derives from the folder's normalised, case-folded path.
class CLogFolderLock {
public:
    CLogFolderLock() = default;
    ~CLogFolderLock() { Close(); }
    CLogFolderLock(const CLogFolderLock&) = delete;
    CLogFolderLock& operator=(const CLogFolderLock&) = delete;

    // The mutex's name for a folder: the same for every spelling of it.
    static std::wstring NameFor(const std::wstring& folder);

    // False when the mutex cannot be had; the writers then go on without it.
    bool Open(const std::wstring& folder);
    void Close();

    // Holds the lock for its life when it could be taken within `wait`
    // milliseconds; otherwise holds nothing, and the writer goes on all the
    // same rather than hang on a holder that never lets go.
    class Guard {
    public:
        Guard(CLogFolderLock& lock, DWORD wait);
        ~Guard();
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        HANDLE m_held = nullptr;
    };

private:
    HANDLE m_mutex = nullptr;
};

} // namespace ETWLogging
