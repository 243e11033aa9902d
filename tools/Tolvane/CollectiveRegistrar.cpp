#include "CollectiveRegistrar.h"

#include "CommandLineParser.h"
#include "FileIO.h"
#include "JSONReferenceProvider.h"
#include "Logging/Log.h"

#include <windows.h>

#include <algorithm>
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

// Nothing says when a program that holds the file lets go of it: it is
// looked at again this often.
constexpr std::chrono::milliseconds kBusyFilePause{50};

std::chrono::milliseconds remainingUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left = deadline - std::chrono::steady_clock::now();
    return left.count() > 0 ? std::chrono::ceil<std::chrono::milliseconds>(left) : std::chrono::milliseconds(0);
}

} // namespace

CollectiveRegistrar::CollectiveRegistrar(std::wstring registryFile, UninstallCallback uninstall,
                                         std::shared_ptr<IFileIO> fileIO, std::shared_ptr<JSONParser> document,
                                         std::shared_ptr<ReferenceProvider> provider,
                                         std::shared_ptr<ReferenceManager> manager,
                                         std::chrono::milliseconds waitBound)
    : m_registryFile(std::move(registryFile)), m_uninstall(std::move(uninstall)),
      m_fileIO(fileIO ? std::move(fileIO) : std::make_shared<FileIO>()),
      m_document(document ? std::move(document) : std::make_shared<JSONParser>()),
      m_provider(provider ? std::move(provider)
                          : std::make_shared<JSONReferenceProvider>(m_document, m_fileIO, m_registryFile)),
      m_manager(manager ? std::move(manager) : std::make_shared<ReferenceManager>(m_provider)),
      m_waitBound(waitBound)
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
    const Clock::time_point deadline = Clock::now() + m_waitBound;
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
        return unregisterCode(parser.value(kUnregisterFlag), referencesUsable, lock);
    return false;
}

bool CollectiveRegistrar::takeTurn(RegistryFileLock& lock, Clock::time_point deadline) const
{
    RegistryFileLock::Result result = lock.acquire(std::chrono::milliseconds(0));
    if (result == RegistryFileLock::Result::TimedOut) {
        ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, kExecute,
                L"Another run is changing %ls. Waiting for its turn.", m_registryFile.c_str());
        result = lock.acquire(remainingUntil(deadline));
    }
    if (result == RegistryFileLock::Result::Held)
        return true;
    if (result == RegistryFileLock::Result::TimedOut) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute,
                L"Another run kept %ls for over %lld ms. Nothing was changed. Returning.", m_registryFile.c_str(),
                static_cast<long long>(m_waitBound.count()));
        return false;
    }
    // No folder, so no registry file to take turns at, and nobody makes the
    // folder: the run goes on and finds no file, as it would alone.
    if (lock.error() == ERROR_PATH_NOT_FOUND)
        return true;
    ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute,
            L"Could not lock %ls. Error code %lu. Nothing was changed. Returning.", lock.path().c_str(),
            lock.error());
    return false;
}

// False only when the file stayed busy past the deadline; otherwise `read`
// says whether the provider could read it (or found none).
bool CollectiveRegistrar::readRegistryFile(Clock::time_point deadline, bool& read)
{
    bool waitLogged = false;
    for (;;) {
        read = m_provider->initialize();
        if (read || !m_provider->wasBusy())
            return true;
        const std::chrono::milliseconds left = remainingUntil(deadline);
        if (left.count() == 0) {
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute,
                    L"%ls was held by another program for over %lld ms. Nothing was changed. Returning.",
                    m_registryFile.c_str(), static_cast<long long>(m_waitBound.count()));
            return false;
        }
        if (!waitLogged) {
            ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, kExecute,
                    L"%ls is held by another program. Waiting for it.", m_registryFile.c_str());
            waitLogged = true;
        }
        Sleep(static_cast<DWORD>(std::min(left, kBusyFilePause).count()));
    }
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

bool CollectiveRegistrar::unregisterCode(const std::wstring& code, bool referencesUsable, RegistryFileLock& lock)
{
    // The installer may take long, and may itself run the registrar: the
    // other runs get their turns while it works.
    if (!m_fileIO->exists(m_registryFile) || !referencesUsable) {
        // Nothing tells which codes still depend on the component: it goes.
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute,
                L"Could not find %ls or could not initialize referenceManager - uninstalling", m_registryFile.c_str());
        lock.release();
        const bool uninstalled = uninstall();
        if (!uninstalled)
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute, L"Uninstall of %ls failed",
                    m_registryFile.c_str());
        return uninstalled;
    }
    if (code.empty() || !m_manager->remove(code))
        return false;
    if (!m_manager->save()) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute, L"Could not save unregister of code %ls",
                code.c_str());
        return false;
    }
    if (m_manager->count() != 0)
        return true;
    lock.release();
    if (uninstall())
        return true;
    ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kExecute, L"Uninstall of %ls failed after last reference removed",
            m_registryFile.c_str());
    return false;
}

bool CollectiveRegistrar::uninstall() const { return m_uninstall && m_uninstall(m_registryFile.c_str()); }

} // namespace Ostrand
