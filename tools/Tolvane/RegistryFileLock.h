#pragma once
#include <memory>
#include <string>

namespace Ostrand {

// Gives the runs of the registrar turns over the registry file: one run at a
// time reads, changes and saves it. It also carries the mark that the
// component is being removed.
//
// The turn is an exclusive byte-range lock on a file of its own beside the
// registry file. Whoever may write the folder can make and take it, whatever
// account runs the program, with no privilege for a shared namespace; the
// system lets go of it when its holder ends in any way; and the lock file is
// never deleted in use, so two runs can never lock two different files. A
// named object would be open to anyone on the machine who made it first.
// Whoever may only read the folder can take the lock too, and so keep runs
// waiting: what that costs is each run's wait bound, and nothing changes.
//
// The locked byte lies far past the file's content, so that the mark can be
// read while another run holds the turn.
class RegistryFileLock {
public:
    enum class Result { Done, Busy, Failed };

    // Where the turn's byte lies in the lock file.
    static constexpr unsigned long long kTurnOffset = 1ULL << 32;

    explicit RegistryFileLock(std::wstring lockFile);
    ~RegistryFileLock();
    RegistryFileLock(const RegistryFileLock&) = delete;
    RegistryFileLock& operator=(const RegistryFileLock&) = delete;

    // The lock file that goes with a registry file.
    static std::wstring lockFileFor(const std::wstring& registryFile);

    // One attempt at the turn, without waiting. Busy while another run holds
    // the turn or another program holds the lock file without sharing it;
    // Failed when the lock file can never be used this way (see error()).
    Result tryAcquire();
    // Lets the next run have its turn; nothing when the lock is not held.
    void release();
    bool held() const { return m_held; }

    // True when the lock file holds the mark that the component is being
    // removed; readable with or without the turn, once the file is open.
    bool removalMarked() const;
    // Only with the turn: writes the mark (Busy while a program holds the
    // lock file from writing), and takes it away again.
    Result markRemoval();
    bool unmarkRemoval();

    const std::wstring& path() const { return m_path; }
    // The system's error code of the last Busy or Failed, or of a failed
    // unmarkRemoval.
    unsigned long error() const { return m_error; }

private:
    Result failedOrBusy();
    // Opens the lock file into `handle`; Failed with the system's error left
    // for failedOrBusy() to read.
    Result open(std::shared_ptr<void>& handle, unsigned long access, unsigned long disposition) const;

    std::wstring m_path;
    std::shared_ptr<void> m_file;
    std::shared_ptr<void> m_markFile;
    bool m_held = false;
    unsigned long m_error = 0;
};

} // namespace Ostrand
