#include "CollectiveRegistrar.h"

#include "CommandLineParser.h"
#include "FileIO.h"
#include "JSONReferenceProvider.h"
#include "Logging/Log.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <utility>

namespace Ostrand {

namespace {

const wchar_t kHelpFlag[] = L"?";
const wchar_t kRegisterFlag[] = L"register";
const wchar_t kUnregisterFlag[] = L"unregister";

const CommandLineFlag kFlagTable[] = {
    {kHelpFlag, L"Displays help."},
    {kRegisterFlag, L"Registers the provided app code as a dependency on this collective component."},
    {kUnregisterFlag, L"Unregisters provided app code as a dependency on this collective component."},
};

const wchar_t kSource[] = L"CollectiveRegistrar";
const wchar_t kExecute[] = L"Ostrand::CollectiveRegistrar::execute";

// Nothing says when a run or a program that holds the file lets go of it:
// it is looked at again, soon at first and then less often, so that many
// waiting runs do not keep the holder from its work.
constexpr std::chrono::milliseconds kFirstPause{10};
constexpr std::chrono::milliseconds kLongestPause{100};

} // namespace

CollectiveRegistrar::CollectiveRegistrar(std::wstring registryFile, UninstallCallback uninstall,
                                         std::shared_ptr<IFileIO> fileIO, std::shared_ptr<JSONParser> document,
                                         std::shared_ptr<ReferenceProvider> provider,
                                         std::shared_ptr<ReferenceManager> manager,
                                         std::chrono::milliseconds waitBound, std::shared_ptr<WaitClock> clock)
    : m_registryFile(std::move(registryFile)), m_uninstall(std::move(uninstall)),
      m_fileIO(fileIO ? std::move(fileIO) : std::make_shared<FileIO>()),
      m_document(document ? std::move(document) : std::make_shared<JSONParser>()),
      m_provider(provider ? std::move(provider)
                          : std::make_shared<JSONReferenceProvider>(m_document, m_fileIO, m_registryFile)),
      m_manager(manager ? std::move(manager) : std::make_shared<ReferenceManager>(m_provider)),
      m_waitBound(waitBound), m_clock(clock ? std::move(clock) : std::make_shared<WaitClock>())
{
}

bool CollectiveRegistrar::execute(int argc, const wchar_t* const* argv)
{
    CommandLineParser parser({std::begin(kFlagTable), std::end(kFlagTable)});
    // The program name and one switch, nothing else.
    if (argc != 2)
        return false;
    if (!parser.parse(argc, argv)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, kExecute,
                L"Found an unrecognized command line switch - exiting.");
        return false;
    }
    if (parser.has(kHelpFlag))
        return false;

    // One wait bound for the whole run, however its waits fall.
    const Clock::time_point deadline = m_clock->now() + m_waitBound;
    RegistryFileLock lock(RegistryFileLock::lockFileFor(m_registryFile));
    if (!takeTurn(lock, deadline))
        return false;

    bool referencesUsable = true;
    bool read = false;
    if (!readRegistryFile(deadline, read))
        return false;
    if (!read) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute, L"Could not setup the referenceProvider.");
        referencesUsable = false;
    }
    if (!m_manager->load()) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute, L"Could not loadReferences in the referenceManager.");
        referencesUsable = false;
    }

    if (parser.has(kRegisterFlag))
        return registerCode(parser.value(kRegisterFlag));
    if (parser.has(kUnregisterFlag))
        return unregisterCode(parser.value(kUnregisterFlag), referencesUsable, lock, deadline);
    return false;
}

bool CollectiveRegistrar::whileHeld(Clock::time_point deadline, const std::wstring& file,
                                    const std::function<Hold()>& attempt) const
{
    bool turnWaitLogged = false;
    bool programWaitLogged = false;
    std::chrono::milliseconds pause = kFirstPause;
    for (;;) {
        const Hold hold = attempt();
        if (hold == Hold::None)
            return true;
        if (hold == Hold::Turn && !turnWaitLogged) {
            ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, kExecute,
                    L"Another run is changing %ls. Waiting for its turn.", m_registryFile.c_str());
            turnWaitLogged = true;
        } else if (hold == Hold::Program && !programWaitLogged) {
            ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, kExecute,
                    L"%ls is held by another program. Waiting for it.", file.c_str());
            programWaitLogged = true;
        }
        const auto left = deadline - m_clock->now();
        if (left.count() > 0) {
            m_clock->pause(std::min(pause, std::chrono::ceil<std::chrono::milliseconds>(left)));
            pause = std::min(pause * 2, kLongestPause);
            continue;
        }
        const long long bound = static_cast<long long>(m_waitBound.count());
        if (hold == Hold::Turn)
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute,
                    L"Another run still had its turn at %ls after %lld ms of waiting. Nothing was changed. Returning.",
                    m_registryFile.c_str(), bound);
        else
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute,
                    L"%ls was still held by another program after %lld ms of waiting. Nothing was changed. Returning.",
                    file.c_str(), bound);
        return false;
    }
}

bool CollectiveRegistrar::takeTurn(RegistryFileLock& lock, Clock::time_point deadline) const
{
    RegistryFileLock::Result result = RegistryFileLock::Result::Failed;
    // The mark is read while waiting too: runs that the installer starts
    // during the uninstall, whose turn would come only after it, end at once.
    const bool ended = whileHeld(deadline, lock.path(), [&] {
        result = lock.tryAcquire();
        if (result != RegistryFileLock::Result::Busy || lock.removalMarked())
            return Hold::None;
        return lock.error() == ERROR_SHARING_VIOLATION ? Hold::Program : Hold::Turn;
    });
    if (lock.removalMarked()) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute,
                L"The component is being removed (%ls says so). Nothing was changed. Returning.",
                lock.path().c_str());
        return false;
    }
    if (!ended)
        return false;
    if (result == RegistryFileLock::Result::Done)
        return true;
    // No folder, so no registry file to take turns at, and nobody makes the
    // folder: the run goes on and finds no file, as it would alone.
    if (lock.error() == ERROR_PATH_NOT_FOUND)
        return true;
    // A lock file that can never be used, such as a folder of that name.
    ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute,
            L"Could not lock %ls. Error code %lu. Nothing was changed. Returning.", lock.path().c_str(),
            lock.error());
    return false;
}

// False only when the file stayed busy past the deadline; otherwise `read`
// says whether the provider could read it (or found none).
bool CollectiveRegistrar::readRegistryFile(Clock::time_point deadline, bool& read)
{
    return whileHeld(deadline, m_registryFile, [&] {
        read = m_provider->initialize();
        return read || !m_provider->wasBusy() ? Hold::None : Hold::Program;
    });
}

// Before the installer starts: from then on no run may report a code as
// kept. Without the turn there is no folder, hence nothing to mark.
bool CollectiveRegistrar::markRemoval(RegistryFileLock& lock, Clock::time_point deadline) const
{
    if (!lock.held())
        return true;
    RegistryFileLock::Result result = RegistryFileLock::Result::Failed;
    if (!whileHeld(deadline, lock.path(), [&] {
            result = lock.markRemoval();
            return result == RegistryFileLock::Result::Busy ? Hold::Program : Hold::None;
        }))
        return false;
    if (result == RegistryFileLock::Result::Done)
        return true;
    ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute,
            L"Could not mark %ls for the component's removal. Error code %lu. Nothing was changed. Returning.",
            lock.path().c_str(), lock.error());
    return false;
}

// The component stays: so must the runs' right to register.
void CollectiveRegistrar::unmarkRemoval(RegistryFileLock& lock) const
{
    if (lock.held() && !lock.unmarkRemoval())
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute,
                L"Could not take the removal mark out of %ls. Error code %lu. Every run fails until it is emptied.",
                lock.path().c_str(), lock.error());
}

bool CollectiveRegistrar::registerCode(const std::wstring& code)
{
    // Goes ahead over an unusable file too: the file is then rewritten with
    // what could be loaded (possibly nothing) and the new code.
    if (!code.empty() && m_manager->add(code) && m_manager->save()) {
        ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, kExecute, L"Saved registration of %ls to %ls", code.c_str(),
                m_registryFile.c_str());
        return true;
    }
    ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute, L"Registration of %ls failed (file: %ls)", code.c_str(),
            m_registryFile.c_str());
    return false;
}

bool CollectiveRegistrar::unregisterCode(const std::wstring& code, bool referencesUsable, RegistryFileLock& lock,
                                         Clock::time_point deadline)
{
    // The turn is kept across the uninstall: a registration saved meanwhile
    // would go with the component.
    if (!m_fileIO->exists(m_registryFile) || !referencesUsable) {
        // Nothing tells which codes still depend on the component: it goes.
        if (!markRemoval(lock, deadline))
            return false;
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute,
                L"Could not find %ls or could not initialize referenceManager - uninstalling", m_registryFile.c_str());
        if (uninstall())
            return true;
        unmarkRemoval(lock);
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute, L"Uninstall of %ls failed", m_registryFile.c_str());
        return false;
    }
    if (code.empty() || !m_manager->remove(code))
        return false;
    const bool last = m_manager->count() == 0;
    if (last && !markRemoval(lock, deadline))
        return false;
    if (!m_manager->save()) {
        if (last)
            unmarkRemoval(lock);
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute, L"Could not save unregister of code %ls",
                code.c_str());
        return false;
    }
    if (!last || uninstall())
        return true;
    unmarkRemoval(lock);
    ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute, L"Uninstall of %ls failed after last reference removed",
            m_registryFile.c_str());
    return false;
}

bool CollectiveRegistrar::uninstall() const { return m_uninstall && m_uninstall(m_registryFile.c_str()); }

} // namespace Ostrand
