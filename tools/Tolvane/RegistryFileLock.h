#pragma once
#include <chrono>
#include <memory>
#include <string>

namespace Ostrand {

// Gives the runs of the registrar turns over the registry file: one run at a
// time reads, changes and saves it.
//
// The turn is an exclusive byte-range lock on a file of its own beside the
// registry file. Whoever may write the folder can make and take it, whatever
// account runs the program, with no privilege for a shared namespace; the
// system lets go of it when its holder ends in any way; and the lock file is
// never deleted in use, so two runs can never lock two different files. A
// named object would be open to anyone on the machine who made it first.
// Whoever may only read the folder can take the lock too, and so keep runs
// waiting: what that costs is each run's wait bound, and nothing changes.
class RegistryFileLock {
public:
    enum class Result { Held, TimedOut, Failed };

    explicit RegistryFileLock(std::wstring lockFile);
    ~RegistryFileLock();
    RegistryFileLock(const RegistryFileLock&) = delete;
    RegistryFileLock& operator=(const RegistryFileLock&) = delete;

    // The lock file that goes with a registry file.
    static std::wstring lockFileFor(const std::wstring& registryFile);

    // Takes the lock, waiting at most `bound` for the run that holds it.
    // Failed when the lock file cannot be opened or locked (see error()).
    Result acquire(std::chrono::milliseconds bound);
    // Lets the next run have its turn; nothing when the lock is not held.
    void release();
    const std::wstring& path() const { return m_path; }
    // The system's error code of the last Failed.
    unsigned long error() const { return m_error; }

private:
    struct Turn;

    std::wstring m_path;
    std::shared_ptr<void> m_file;
    bool m_held = false;
    unsigned long m_error = 0;
};

} // namespace Ostrand
