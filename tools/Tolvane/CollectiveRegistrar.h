#pragma once
#include "IFileIO.h"
#include "JSONParser.h"
#include "ReferenceManager.h"
#include "ReferenceProvider.h"
#include "RegistryFileLock.h"
#include "WaitClock.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace Ostrand {

// Records and removes the application codes that depend on the component,
// and has the component uninstalled when none is left.
class CollectiveRegistrar {
public:
    // Called with the registry file's path; true when the uninstall ran.
    using UninstallCallback = std::function<bool(const wchar_t* registryFile)>;

    // How long a run waits, in all, for other runs and programs that hold
    // the registry file: long enough for any number of installs at once.
    static constexpr std::chrono::milliseconds kWaitBound{60000};

    // Every empty collaborator gets its default: the file access, a document,
    // a JSON provider over those two and the path, a manager over the provider,
    // the system's clock.
    CollectiveRegistrar(std::wstring registryFile, UninstallCallback uninstall, std::shared_ptr<IFileIO> fileIO = {},
                        std::shared_ptr<JSONParser> document = {}, std::shared_ptr<ReferenceProvider> provider = {},
                        std::shared_ptr<ReferenceManager> manager = {},
                        std::chrono::milliseconds waitBound = kWaitBound, std::shared_ptr<WaitClock> clock = {});

    // Runs one command line: exactly one switch, "-register=<code>" or
    // "-unregister=<code>". True when the command succeeded. Runs at the
    // same time take turns: each reads, changes and saves the file alone.
    // One that cannot have its turn within the bound changes nothing. The run
    // that has the component removed keeps its turn across the uninstall and
    // marks the lock file first: every run that sees the mark, during the
    // uninstall or after it, changes nothing and fails.
    bool execute(int argc, const wchar_t* const* argv);

private:
    using Clock = WaitClock::Clock;

    // What kept an attempt from its file: nothing, another run's turn, or
    // another program that holds the file.
    enum class Hold { None, Turn, Program };

    // The one way a run waits: makes `attempt` until nothing holds it up,
    // pausing between attempts, and says once of each holder that it waits
    // for it (`file` names what a program holds). False when the deadline
    // came first; the line then says what held the run up at the end.
    bool whileHeld(Clock::time_point deadline, const std::wstring& file, const std::function<Hold()>& attempt) const;
    bool takeTurn(RegistryFileLock& lock, Clock::time_point deadline) const;
    bool readRegistryFile(Clock::time_point deadline, bool& read);
    bool markRemoval(RegistryFileLock& lock, Clock::time_point deadline) const;
    void unmarkRemoval(RegistryFileLock& lock) const;
    bool registerCode(const std::wstring& code);
    bool unregisterCode(const std::wstring& code, bool referencesUsable, RegistryFileLock& lock,
                        Clock::time_point deadline);
    bool uninstall() const;

    std::wstring m_registryFile;
    UninstallCallback m_uninstall;
    std::shared_ptr<IFileIO> m_fileIO;
    std::shared_ptr<JSONParser> m_document;
    std::shared_ptr<ReferenceProvider> m_provider;
    std::shared_ptr<ReferenceManager> m_manager;
    std::chrono::milliseconds m_waitBound;
    std::shared_ptr<WaitClock> m_clock;
};

} // namespace Ostrand
