#include "MachineRegistryValue.h"
#include "PendingDeletions.h"
#include "ToolLogFolder.h"
#include "RegistryFileBytes.h"
#include "RegistryFileHolder.h"

#include "ScratchFolder.h"
#include "TestNames.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

using TolvaneTests::Holder;
using TolvaneTests::hold;
using TolvaneTests::registryFile;

namespace {

const wchar_t kComponentKey[] = L"Software\\Corvane\\Sentrel";
const wchar_t kInstallerKey[] = L"Software\\Corvane\\CvInst\\InstallSettings";
const wchar_t kInstallDir[] = L"Install Dir";

// A path of this build as Wine sees it (its Z: drive is the host's root).
std::wstring hostPath(const char* unixPath)
{
    std::wstring path = L"Z:" + TestSupport::widen(unixPath);
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

// The program's world: the component's folder holding the program (as an
// installed component does), the installer's folder holding the installer
// double, and the two machine registry values that name them.
class TolvaneProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CreateDirectoryW(component.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(installer.c_str(), nullptr));
        ASSERT_TRUE(CopyFileW(hostPath(TOLVANE_PATH).c_str(), program.c_str(), FALSE));
        ASSERT_TRUE(CopyFileW(hostPath(CVINST_PATH).c_str(), (installer + L"\\CvInst.exe").c_str(), FALSE));
        ASSERT_TRUE(componentDir.set(component));
        ASSERT_TRUE(installerDir.set(installer));
        ASSERT_TRUE(log.ready());
        SetEnvironmentVariableW(L"CVINST_JOURNAL", journal.c_str());
        SetEnvironmentVariableW(L"CVINST_EXIT_CODE", nullptr);
        SetEnvironmentVariableW(L"CVINST_RUN", nullptr);
        SetEnvironmentVariableW(L"CVINST_WAIT_EVENT", nullptr);
    }

    void TearDown() override { PendingDeletions::forget(root.path()); }

    // Runs the program with the given argument text; its exit code. Its
    // standard output and error go to a file of their own, which must stay
    // empty: the program writes to no console on any path.
    DWORD run(const std::wstring& arguments) const
    {
        SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
        HANDLE console = CreateFileW(consoleFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (console == INVALID_HANDLE_VALUE) {
            ADD_FAILURE() << "cannot make the console file: " << GetLastError();
            return 0xFFFFFFFF;
        }
        PROCESS_INFORMATION process = start(arguments, false, console);
        CloseHandle(console);
        const DWORD code = finish(process);
        EXPECT_EQ("", TestSupport::ScratchFolder::read(consoleFile)) << TestSupport::narrow(arguments);
        return code;
    }

    // Starts a run and returns without waiting for it; suspended when asked.
    // Its standard output and error go to `console` when one is given (it is
    // inherited), nowhere otherwise. A run that cannot start has no process
    // handle.
    PROCESS_INFORMATION start(const std::wstring& arguments, bool suspended = false, HANDLE console = nullptr) const
    {
        std::wstring commandLine = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        if (console) {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdOutput = console;
            startup.hStdError = console;
        }
        PROCESS_INFORMATION process = {};
        // Under load Wine has been seen to refuse a process creation with
        // ERROR_INTERNAL_ERROR; no process exists then, nothing of the run
        // happened, and the creation alone is made again.
        for (int attempt = 1;; ++attempt) {
            if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, console ? TRUE : FALSE,
                               suspended ? CREATE_SUSPENDED : 0, nullptr, nullptr, &startup, &process))
                return process;
            const DWORD error = GetLastError();
            if (error != ERROR_INTERNAL_ERROR || attempt == 3) {
                ADD_FAILURE() << "cannot start the program: " << error;
                return {};
            }
        }
    }

    // Waits for a run to end and lets go of it; its exit code, or 0xFFFFFFFF
    // when it did not start or did not end.
    static DWORD finish(PROCESS_INFORMATION& process)
    {
        DWORD code = 0xFFFFFFFF;
        if (!process.hProcess)
            return code;
        // Several Wine processes starting at once on a loaded machine.
        if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &code);
        else
            ADD_FAILURE() << "a run did not end";
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        process = {};
        return code;
    }

    // Starts one run per argument text, every one suspended, then resumes
    // them all at once, so that their reads and saves overlap; the exit code
    // of each, in order.
    std::vector<DWORD> runTogether(const std::vector<std::wstring>& argumentTexts) const
    {
        std::vector<PROCESS_INFORMATION> processes;
        for (const std::wstring& arguments : argumentTexts)
            processes.push_back(start(arguments, true));
        for (const PROCESS_INFORMATION& process : processes)
            if (process.hThread)
                ResumeThread(process.hThread);
        std::vector<DWORD> codes;
        for (PROCESS_INFORMATION& process : processes)
            codes.push_back(finish(process));
        return codes;
    }

    // True once the program has logged a line whose "<level>: <text>" is `line`.
    bool hasLogged(const std::wstring& line) const
    {
        for (const TestSupport::LogLine& logged : log.lines())
            if (logged.level + L": " + logged.text == line)
                return true;
        return false;
    }

    // The registry file as the program writes it for these codes.
    static std::string registryFileOf(const std::set<std::wstring>& codes)
    {
        if (codes.empty())
            return registryFile(L"{}");
        std::wstring text = LR"({"registry":[)";
        for (const std::wstring& code : codes)
            text += (text.back() == L'[' ? L"" : L",") + std::wstring(LR"({"appcode":")") + code + L"\"}";
        return registryFile(text + L"]}");
    }

    // The program's log lines since the last call, as "<level>: <text>"; every
    // line must come from the registrar's command handling.
    std::vector<std::wstring> logged() const
    {
        std::vector<std::wstring> texts;
        for (const TestSupport::LogLine& line : log.lines()) {
            EXPECT_EQ(L"CollectiveRegistrar", line.file);
            EXPECT_EQ(L"Ostrand::CollectiveRegistrar::execute", line.function);
            EXPECT_EQ(L"Tolvane.exe", line.executable);
            texts.push_back(line.level + L": " + line.text);
        }
        log.clear();
        return texts;
    }
    using Lines = std::vector<std::wstring>;

    // The component installed again after an uninstall: its lock file, which
    // says it is being removed, goes with the rest at the next restart.
    void installAfresh() const { DeleteFileW(lockFilePath.c_str()); }

    void storeRegistryFile(const std::wstring& text) const { root.write(L"component\\appregistry.dat", registryFile(text)); }
    std::string registryFileBytes() const { return TestSupport::ScratchFolder::read(registryFilePath); }
    bool registryFileExists() const { return GetFileAttributesW(registryFilePath.c_str()) != INVALID_FILE_ATTRIBUTES; }
    std::string installerJournal() const { return TestSupport::ScratchFolder::read(journal); }

    // What the installer double must have recorded for one uninstall.
    std::string expectedInstallerRun() const
    {
        const std::wstring commandLine =
            L"\"" + installer + L"\\CvInst.exe\" /uninstall \"" + component + L"\\sentrel64.inf\"";
        return "commandline=" + TestSupport::narrow(commandLine) + "\n";
    }

    TestSupport::ScratchFolder root;
    const std::wstring component = root.file(L"component");
    const std::wstring installer = root.file(L"installer");
    const std::wstring program = component + L"\\Tolvane.exe";
    const std::wstring registryFilePath = component + L"\\appregistry.dat";
    // What the runs take turns on: locked, never written.
    const std::wstring lockFilePath = registryFilePath + L".lock";
    const std::wstring journal = root.file(L"installer.journal");
    const std::wstring consoleFile = root.file(L"console.txt");
    MachineRegistryValue componentDir{kComponentKey, kInstallDir};
    MachineRegistryValue installerDir{kInstallerKey, kInstallDir};
    ToolLogFolder log{L"Tolvane"};
};

TEST_F(TolvaneProgram, CommandLinesThatAreNotOneKnownSwitchDoNothing)
{
    for (const wchar_t* arguments : {L"", L"-register=A -register=B", L"-register=A stray", L"-?", L"stray"}) {
        EXPECT_EQ(1U, run(arguments)) << TestSupport::narrow(arguments);
        EXPECT_FALSE(registryFileExists());
        EXPECT_EQ("", installerJournal());
        EXPECT_EQ(Lines{}, logged()) << TestSupport::narrow(arguments);
    }
    EXPECT_EQ(1U, run(L"-other=x"));
    EXPECT_EQ(Lines{L"Normal: Found an unrecognized command line switch - exiting."}, logged());
    EXPECT_FALSE(registryFileExists());
}

TEST_F(TolvaneProgram, RegistersIntoAMissingFileAndRefusesTheSameCodeAgain)
{
    ASSERT_EQ(0U, run(L"-register=ABC"));
    const std::string once = registryFile(LR"({"registry":[{"appcode":"ABC"}]})");
    EXPECT_EQ(once, registryFileBytes());
    EXPECT_EQ(Lines{L"Normal: Saved registration of ABC to " + registryFilePath}, logged());
    EXPECT_EQ(1U, run(L"/register=ABC"));
    EXPECT_EQ(once, registryFileBytes());
    EXPECT_EQ(Lines{L"Error: Registration of ABC failed (file: " + registryFilePath + L")"}, logged());
    ASSERT_EQ(0U, run(L"-register=AB"));
    EXPECT_EQ(registryFile(LR"({"registry":[{"appcode":"AB"},{"appcode":"ABC"}]})"), registryFileBytes());
    logged();
    EXPECT_EQ(1U, run(L"-register="));
    EXPECT_EQ(Lines{L"Error: Registration of  failed (file: " + registryFilePath + L")"}, logged());
    EXPECT_EQ("", installerJournal());
}

TEST_F(TolvaneProgram, UnregistersListedCodesOnly)
{
    storeRegistryFile(LR"({"registry":[{"appcode":"A"},{"appcode":"B"}]})");
    const std::string before = registryFileBytes();
    EXPECT_EQ(1U, run(L"-unregister=XYZ"));
    EXPECT_EQ(before, registryFileBytes());
    EXPECT_EQ(Lines{}, logged());
    EXPECT_EQ(0U, run(L"-unregister=A"));
    EXPECT_EQ(Lines{}, logged());
    EXPECT_EQ(registryFile(LR"({"registry":[{"appcode":"B"}]})"), registryFileBytes());
    EXPECT_EQ("", installerJournal());
}

// The installer's own answer does not change the outcome.
TEST_F(TolvaneProgram, UnregisterOfTheLastCodeUninstallsAndSchedulesTheDeletions)
{
    for (const wchar_t* installerExitCode : {L"0", L"1603"}) {
        SetEnvironmentVariableW(L"CVINST_EXIT_CODE", installerExitCode);
        DeleteFileW(journal.c_str());
        PendingDeletions::forget(root.path());
        installAfresh();
        storeRegistryFile(LR"({"registry":[{"appcode":"ABC"}]})");

        EXPECT_EQ(0U, run(L"-unregister=ABC"));
        EXPECT_EQ(registryFile(L"{}"), registryFileBytes());
        EXPECT_EQ(Lines{}, logged());
        const std::string journalText = installerJournal();
        EXPECT_EQ(0U, journalText.find(expectedInstallerRun())) << journalText;
        EXPECT_NE(std::string::npos, journalText.find("arg=/uninstall\narg=" +
                                                      TestSupport::narrow(component) + "\\sentrel64.inf\n"));

        std::vector<std::wstring> ours;
        for (const std::wstring& path : PendingDeletions::list())
            if (_wcsnicmp(path.c_str(), root.path().c_str(), root.path().size()) == 0)
                ours.push_back(path);
        const std::vector<std::wstring> expected{program, registryFilePath, lockFilePath, component};
        EXPECT_EQ(expected.size(), ours.size());
        for (size_t i = 0; i < std::min(expected.size(), ours.size()); ++i)
            EXPECT_EQ(0, _wcsicmp(expected[i].c_str(), ours[i].c_str()))
                << TestSupport::narrow(expected[i]) << " / " << TestSupport::narrow(ours[i]);
    }
}

TEST_F(TolvaneProgram, UnregisterWithoutAUsableFileUninstalls)
{
    enum class Damage { Missing, Invalid };
    for (Damage damage : {Damage::Missing, Damage::Invalid}) {
        DeleteFileW(journal.c_str());
        DeleteFileW(registryFilePath.c_str());
        installAfresh();
        if (damage == Damage::Invalid)
            root.write(L"component\\appregistry.dat", "{\"registry\":[{\"appcode\":\"ABC\"}]}");
        EXPECT_EQ(0U, run(L"-unregister=ABC")) << static_cast<int>(damage);
        EXPECT_EQ(expectedInstallerRun(), installerJournal().substr(0, expectedInstallerRun().size()))
            << static_cast<int>(damage);
        Lines expected;
        if (damage == Damage::Invalid)
            expected.push_back(L"Error: Could not setup the referenceProvider.");
        expected.push_back(L"Error: Could not find " + registryFilePath +
                           L" or could not initialize referenceManager - uninstalling");
        EXPECT_EQ(expected, logged()) << static_cast<int>(damage);
    }
}

TEST_F(TolvaneProgram, RegisterOverAnInvalidFileReplacesIt)
{
    root.write(L"component\\appregistry.dat", "not json at all");
    EXPECT_EQ(0U, run(L"-register=ABC"));
    EXPECT_EQ(registryFile(LR"({"registry":[{"appcode":"ABC"}]})"), registryFileBytes());
    EXPECT_EQ((Lines{L"Error: Could not setup the referenceProvider.",
                     L"Normal: Saved registration of ABC to " + registryFilePath}),
              logged());

    // A list of the wrong shape reads as no codes at all.
    storeRegistryFile(LR"({"registry":[{"appcode":"OLD"},{"appcode":2}]})");
    EXPECT_EQ(0U, run(L"-register=NEW"));
    EXPECT_EQ(registryFile(LR"({"registry":[{"appcode":"NEW"}]})"), registryFileBytes());
    EXPECT_EQ((Lines{L"Error: Could not loadReferences in the referenceManager.",
                     L"Normal: Saved registration of NEW to " + registryFilePath}),
              logged());
}

// A string holding an escaped low surrogate without its high one makes the
// file unreadable like any other damage: an unregistration uninstalls, a
// registration replaces the file.
TEST_F(TolvaneProgram, AFileWithALoneLowSurrogateIsUnreadable)
{
    const std::wstring damaged = LR"({"registry":[{"appcode":"ABC"},{"appcode":"\udc00"}]})";
    storeRegistryFile(damaged);
    EXPECT_EQ(0U, run(L"-unregister=ABC"));
    EXPECT_EQ(expectedInstallerRun(), installerJournal().substr(0, expectedInstallerRun().size()));
    EXPECT_EQ((Lines{L"Error: Could not setup the referenceProvider.",
                     L"Error: Could not find " + registryFilePath +
                         L" or could not initialize referenceManager - uninstalling"}),
              logged());

    installAfresh();
    storeRegistryFile(damaged);
    EXPECT_EQ(0U, run(L"-register=NEW"));
    EXPECT_EQ(registryFile(LR"({"registry":[{"appcode":"NEW"}]})"), registryFileBytes());
    EXPECT_EQ((Lines{L"Error: Could not setup the referenceProvider.",
                     L"Normal: Saved registration of NEW to " + registryFilePath}),
              logged());
}

// Installs run the program side by side. Runs started together take turns
// over reading, changing and saving the file: a code that none of them
// touches stays, every run ends with 0 and its change is in the file, and an
// unregister among them never uninstalls while codes remain.
TEST_F(TolvaneProgram, RunsStartedTogetherLoseNoChange)
{
    struct Race {
        const char* name;
        std::set<std::wstring> before;
        std::vector<std::wstring> commands;
        std::set<std::wstring> after;
    };
    const std::vector<Race> races{
        {"six registrations beside an earlier code",
         {L"EARLIER"},
         {L"-register=C1", L"-register=C2", L"-register=C3", L"-register=C4", L"-register=C5", L"-register=C6"},
         {L"C1", L"C2", L"C3", L"C4", L"C5", L"C6", L"EARLIER"}},
        {"five registrations and an unregistration",
         {L"EARLIER", L"GONE"},
         {L"-register=C1", L"-register=C2", L"-unregister=GONE", L"-register=C3", L"-register=C4", L"-register=C5"},
         {L"C1", L"C2", L"C3", L"C4", L"C5", L"EARLIER"}},
    };
    const int kRounds = 10;
    for (const Race& race : races) {
        std::vector<std::string> lossy;
        for (int round = 1; round <= kRounds; ++round) {
            root.write(L"component\\appregistry.dat", registryFileOf(race.before));
            DeleteFileW(journal.c_str());
            const std::vector<DWORD> codes = runTogether(race.commands);
            std::string failures;
            for (size_t i = 0; i < codes.size(); ++i)
                if (codes[i] != 0)
                    failures += " " + TestSupport::narrow(race.commands[i]) + " ended with " + std::to_string(codes[i]) + ";";
            const std::string file = registryFileBytes();
            if (file != registryFileOf(race.after))
                failures += " the file holds " + TestSupport::narrow(std::wstring(
                    reinterpret_cast<const wchar_t*>(file.data() + std::min<size_t>(2, file.size())),
                    file.size() > 2 ? (file.size() - 2) / 2 : 0)) + ";";
            if (!installerJournal().empty())
                failures += " the installer ran;";
            if (!failures.empty())
                lossy.push_back("round " + std::to_string(round) + ":" + failures);
        }
        log.clear();
        EXPECT_EQ(std::vector<std::string>{}, lossy) << race.name;
    }
}

// The last code's unregister started together with registrations: whichever
// order the turns fall in, no run is told a code is kept that goes. Either
// a registration came first, so the code was not the last and nothing is
// uninstalled, or the uninstall came first and every registration after it
// was refused; a registration saved before it makes the code not the last.
TEST_F(TolvaneProgram, TheLastUnregisterBesideRegistrationsNeverLosesOneSilently)
{
    const std::vector<std::wstring> commands{L"-register=C1", L"-unregister=LAST", L"-register=C2",
                                             L"-register=C3"};
    const int kRounds = 10;
    std::vector<std::string> untrue;
    for (int round = 1; round <= kRounds; ++round) {
        installAfresh();
        PendingDeletions::forget(root.path());
        DeleteFileW(journal.c_str());
        storeRegistryFile(LR"({"registry":[{"appcode":"LAST"}]})");
        const std::vector<DWORD> codes = runTogether(commands);
        const bool uninstalled = !installerJournal().empty();
        std::set<std::wstring> kept;
        std::string failures;
        for (size_t i = 0; i < codes.size(); ++i) {
            const bool isRegister = commands[i].find(L"-register=") == 0;
            if (isRegister && codes[i] == 0)
                kept.insert(commands[i].substr(10));
            else if (isRegister && codes[i] != 1)
                failures += " " + TestSupport::narrow(commands[i]) + " ended with " + std::to_string(codes[i]) + ";";
        }
        if (codes[1] != 0)
            failures += " the unregister ended with " + std::to_string(codes[1]) + ";";
        if (uninstalled && !kept.empty())
            failures += " the installer ran after a registration was kept;";
        if (registryFileBytes() != registryFileOf(kept))
            failures += " the file does not hold exactly the kept codes;";
        if (!failures.empty())
            untrue.push_back("round " + std::to_string(round) + ":" + failures);
    }
    log.clear();
    EXPECT_EQ(std::vector<std::string>{}, untrue);
}

// What holds the registry file or its lock file for a while is waited for:
// another program that holds the registry file without sharing, another run
// in its turn, or another program (a copy, a backup) that holds the lock file
// without sharing. The run then reads the whole list and goes ahead. A lock
// file held sharing reading only keeps no run waiting at all. An unregister
// never takes the busy file for a missing one and uninstalls.
TEST_F(TolvaneProgram, ARunWaitsForWhatHoldsTheFileAndThenGoesAhead)
{
    struct Case {
        const char* name;
        Holder holder;
        const wchar_t* command;
        const wchar_t* after;
    };
    const wchar_t* const registered = LR"({"registry":[{"appcode":"ABC"},{"appcode":"D"},{"appcode":"NEW"}]})";
    const wchar_t* const unregistered = LR"({"registry":[{"appcode":"D"}]})";
    const Case cases[] = {
        {"register, file held", Holder::RegistryFile, L"-register=NEW", registered},
        {"unregister, file held", Holder::RegistryFile, L"-unregister=ABC", unregistered},
        {"register, turn held", Holder::Turn, L"-register=NEW", registered},
        {"unregister, turn held", Holder::Turn, L"-unregister=ABC", unregistered},
        {"register, lock file held unshared", Holder::LockFileUnshared, L"-register=NEW", registered},
        {"unregister, lock file held unshared", Holder::LockFileUnshared, L"-unregister=ABC", unregistered},
        {"register, lock file held for reading", Holder::LockFileSharedForReading, L"-register=NEW", registered},
        {"unregister, lock file held for reading", Holder::LockFileSharedForReading, L"-unregister=ABC",
         unregistered},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        storeRegistryFile(LR"({"registry":[{"appcode":"ABC"},{"appcode":"D"}]})");
        DeleteFileW(journal.c_str());
        const HANDLE holder = hold(c.holder, c.holder == Holder::RegistryFile ? registryFilePath : lockFilePath);
        ASSERT_NE(INVALID_HANDLE_VALUE, holder);
        std::wstring waiting;
        if (c.holder == Holder::RegistryFile)
            waiting = L"Information: " + registryFilePath + L" is held by another program. Waiting for it.";
        else if (c.holder == Holder::Turn)
            waiting = L"Information: Another run is changing " + registryFilePath + L". Waiting for its turn.";
        else if (c.holder == Holder::LockFileUnshared)
            waiting = L"Information: " + lockFilePath + L" is held by another program. Waiting for it.";

        PROCESS_INFORMATION process = start(c.command);
        DWORD code = 0xFFFFFFFF;
        if (!waiting.empty()) {
            // A run that does not wait ends while the holder still holds.
            TestSupport::waitUntil([&] {
                return hasLogged(waiting) || !process.hProcess ||
                       WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0;
            });
            EXPECT_TRUE(hasLogged(waiting)) << TestSupport::narrow(waiting);
            CloseHandle(holder);
            code = finish(process);
        } else {
            // Nothing to wait for: the run ends while the holder still holds.
            code = finish(process);
            CloseHandle(holder);
        }
        EXPECT_EQ(0U, code);
        EXPECT_EQ(registryFile(c.after), registryFileBytes());
        EXPECT_EQ("", installerJournal());
        Lines expected;
        if (!waiting.empty())
            expected.push_back(waiting);
        if (std::wstring(c.command).find(L"-register=") == 0)
            expected.push_back(L"Normal: Saved registration of NEW to " + registryFilePath);
        EXPECT_EQ(expected, logged());
    }
}

// The run that removes the last code keeps its turn across the uninstall and
// marks the component as being removed: a register started meanwhile, or by
// the installer itself, ends with 1 at once and saves nothing; so does one
// started after the uninstall, since the component and the registry file go
// at the next restart.
TEST_F(TolvaneProgram, NoRegistrationDuringOrAfterTheUninstallIsReportedAsKept)
{
    storeRegistryFile(LR"({"registry":[{"appcode":"LAST"}]})");
    const std::wstring eventName = L"TolvaneUninstallUnderWay" + std::to_wstring(GetCurrentProcessId());
    const HANDLE underWay = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
    ASSERT_NE(nullptr, underWay);
    SetEnvironmentVariableW(L"CVINST_WAIT_EVENT", eventName.c_str());
    SetEnvironmentVariableW(L"CVINST_RUN", (L"\"" + program + L"\" -register=CHILD").c_str());
    const std::wstring removing = L"Error: The component is being removed (" + lockFilePath +
                                  L" says so). Nothing was changed. Returning.";

    PROCESS_INFORMATION last = start(L"-unregister=LAST");
    // The installer has run its own register and now waits for the event.
    EXPECT_TRUE(TestSupport::waitUntil([&] { return installerJournal().find("ran=") != std::string::npos; }));
    EXPECT_NE(std::string::npos, installerJournal().find("ran=1\n")) << installerJournal();
    EXPECT_EQ(Lines{removing}, logged());

    EXPECT_EQ(1U, run(L"-register=NEW"));
    EXPECT_EQ(Lines{removing}, logged());
    SetEvent(underWay);
    EXPECT_EQ(0U, finish(last));
    CloseHandle(underWay);
    EXPECT_EQ(registryFile(L"{}"), registryFileBytes());
    EXPECT_EQ(Lines{}, logged());

    EXPECT_EQ(1U, run(L"-register=AFTER"));
    EXPECT_EQ(Lines{removing}, logged());
    EXPECT_EQ(registryFile(L"{}"), registryFileBytes());
    // One uninstall, and no second one from a later unregister.
    EXPECT_EQ(1U, run(L"-unregister=AFTER"));
    EXPECT_EQ(Lines{removing}, logged());
    EXPECT_EQ(0U, installerJournal().find(expectedInstallerRun()));
    EXPECT_EQ(installerJournal().find("commandline="), installerJournal().rfind("commandline="));
}

TEST_F(TolvaneProgram, AnUninstallThatCannotRunFails)
{
    storeRegistryFile(LR"({"registry":[{"appcode":"ABC"}]})");
    DeleteFileW((installer + L"\\CvInst.exe").c_str());
    EXPECT_EQ(1U, run(L"-unregister=ABC"));
    EXPECT_EQ("", installerJournal());
    EXPECT_EQ(Lines{L"Error: Uninstall of " + registryFilePath + L" failed after last reference removed"}, logged());
    // The code is gone from the file all the same, and the component stays:
    // a new registration is kept.
    EXPECT_EQ(registryFile(L"{}"), registryFileBytes());
    EXPECT_EQ(0U, run(L"-register=NEW"));
    EXPECT_EQ(registryFile(LR"({"registry":[{"appcode":"NEW"}]})"), registryFileBytes());
    logged();

    installerDir.remove();
    DeleteFileW(registryFilePath.c_str());
    EXPECT_EQ(1U, run(L"-unregister=ABC"));
    EXPECT_EQ("", installerJournal());
    EXPECT_EQ((Lines{L"Error: Could not find " + registryFilePath +
                         L" or could not initialize referenceManager - uninstalling",
                     L"Error: Uninstall of " + registryFilePath + L" failed"}),
              logged());
    for (const std::wstring& path : PendingDeletions::list())
        EXPECT_NE(0, _wcsnicmp(path.c_str(), root.path().c_str(), root.path().size())) << TestSupport::narrow(path);
    EXPECT_EQ(0U, run(L"-register=NEW"));
    EXPECT_EQ(registryFile(LR"({"registry":[{"appcode":"NEW"}]})"), registryFileBytes());
}

// A registry file that cannot be replaced (somebody reads it and shares
// no deletion) keeps its codes, and nothing is uninstalled.
TEST_F(TolvaneProgram, AnUnregisterThatCannotBeSavedChangesNothing)
{
    storeRegistryFile(LR"({"registry":[{"appcode":"ABC"}]})");
    const std::string before = registryFileBytes();
    HANDLE reader = CreateFileW(registryFilePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    EXPECT_EQ(1U, run(L"-unregister=ABC"));
    CloseHandle(reader);
    EXPECT_EQ(before, registryFileBytes());
    EXPECT_EQ(Lines{L"Error: Could not save unregister of code ABC"}, logged());
    EXPECT_EQ("", installerJournal());
    // Nothing is left beside it.
    WIN32_FIND_DATAW found = {};
    HANDLE search = FindFirstFileW((component + L"\\*.new").c_str(), &found);
    EXPECT_EQ(INVALID_HANDLE_VALUE, search);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}

TEST_F(TolvaneProgram, WithoutTheComponentFolderNothingHappens)
{
    componentDir.remove();
    EXPECT_EQ(1U, run(L"-register=ABC"));
    EXPECT_EQ(1U, run(L"-unregister=ABC"));
    EXPECT_FALSE(registryFileExists());
    EXPECT_EQ("", installerJournal());
    EXPECT_EQ(Lines{}, logged());
}

// Libraries planted beside the program under system libraries' names are
// never loaded: the program binds such libraries only after it restricted
// the search to the system folder. Registering reads the registry; the
// uninstall also reads the system's version facts and known folders.
TEST_F(TolvaneProgram, NeverLoadsALibraryPlantedBesideIt)
{
    ASSERT_TRUE(CopyFileW(hostPath(PLANTED_ADVAPI32_PATH).c_str(), (component + L"\\advapi32.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(hostPath(PLANTED_VERSION_PATH).c_str(), (component + L"\\version.dll").c_str(), FALSE));
    const std::wstring marker = root.file(L"planted.marker");
    SetEnvironmentVariableW(L"PLANTED_LIBRARY_MARKER", marker.c_str());
    // Native before built-in, so that Wine takes a planted file whenever its
    // search reaches one (set by the test's ctest properties).
    wchar_t overrides[256] = {};
    GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 255);
    ASSERT_NE(nullptr, wcsstr(overrides, L"advapi32,version=n,b")) << "run through ctest, which sets WINEDLLOVERRIDES";

    EXPECT_EQ(0U, run(L"-register=ABC"));
    EXPECT_EQ(registryFile(LR"({"registry":[{"appcode":"ABC"}]})"), registryFileBytes());
    EXPECT_EQ(0U, run(L"-unregister=ABC"));
    EXPECT_EQ(expectedInstallerRun(), installerJournal().substr(0, expectedInstallerRun().size()));
    EXPECT_EQ("", TestSupport::ScratchFolder::read(marker));
}

} // namespace
