#include "CollectiveRegistrar.h"
#include "FileIO.h"
#include "RegistryFileBytes.h"
#include "RegistryFileHolder.h"

#include "LogFile.h"
#include "ScratchFolder.h"
#include "TestNames.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <vector>

using Ostrand::CollectiveRegistrar;
using TolvaneTests::Holder;
using TolvaneTests::hold;
using TolvaneTests::registryFile;

namespace {

// The process logs to one folder from its first line on, so every case in it
// shares the one log; each looks only at the lines after its start.
TestSupport::LogFile& processLog()
{
    static TestSupport::LogFile log;
    return log;
}

// Made before the first test of the process, whichever suite it is in.
class ProcessLogFirst : public ::testing::Environment {
public:
    void SetUp() override { processLog(); }
};
::testing::Environment* const kProcessLogFirst = ::testing::AddGlobalTestEnvironment(new ProcessLogFirst);

// Time that passes only when the run pauses; `onPause` sees each moment.
class SteppedClock : public Ostrand::WaitClock {
public:
    Clock::time_point now() const override { return m_start + m_elapsed; }
    void pause(std::chrono::milliseconds length) override
    {
        m_elapsed += length;
        if (onPause)
            onPause(m_elapsed);
    }

    std::function<void(std::chrono::milliseconds)> onPause;

private:
    Clock::time_point m_start = Clock::now();
    std::chrono::milliseconds m_elapsed{0};
};

class Registrar : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(log.ready());
        linesBefore = log.lines().size();
    }

    std::wstring path() const { return folder.file(fileName); }
    std::wstring lockFile() const { return Ostrand::RegistryFileLock::lockFileFor(path()); }
    std::string stored() const { return TestSupport::ScratchFolder::read(path()); }
    void store(const std::wstring& text) const { folder.write(L"appregistry.dat", registryFile(text)); }

    // A line of this case at that level whose text holds `part`.
    bool logged(const std::wstring& level, const std::wstring& part) const
    {
        const std::vector<TestSupport::LogLine> lines = log.lines();
        for (size_t i = linesBefore; i < lines.size(); ++i)
            if (lines[i].level == level && lines[i].text.find(part) != std::wstring::npos)
                return true;
        return false;
    }

    // Runs one command line (the program name is added) over a fresh registrar.
    bool run(std::vector<std::wstring> arguments, std::shared_ptr<Ostrand::IFileIO> io = {})
    {
        arguments.insert(arguments.begin(), L"C:\\component\\Tolvane.exe");
        std::vector<const wchar_t*> argv;
        for (const std::wstring& argument : arguments)
            argv.push_back(argument.c_str());
        CollectiveRegistrar registrar(
            path(),
            [this](const wchar_t* file) {
                uninstalls.push_back(file ? file : L"<null>");
                stateAtUninstall = stored();
                return uninstallSucceeds;
            },
            std::move(io), nullptr, nullptr, nullptr, waitBound, clock);
        return registrar.execute(static_cast<int>(argv.size()), argv.data());
    }

    TestSupport::LogFile& log = processLog();
    size_t linesBefore = 0;
    TestSupport::ScratchFolder folder;
    std::wstring fileName = L"appregistry.dat";
    std::chrono::milliseconds waitBound = CollectiveRegistrar::kWaitBound;
    std::shared_ptr<SteppedClock> clock; // the system's clock while empty
    std::vector<std::wstring> uninstalls;
    std::string stateAtUninstall;
    bool uninstallSucceeds = true;
};

// Command lines that do nothing at all: no file is touched, nothing uninstalled.
TEST_F(Registrar, RefusesCommandLinesThatAreNotExactlyOneKnownSwitch)
{
    const std::vector<std::vector<std::wstring>> refused{
        {},
        {L"-register=A", L"-register=B"},
        {L"-register=A", L"stray"},
        {L"-other=x"},
        {L"-Register=A"},
        {L"-?"},
        {L"/?"},
        {L"register=A"},
        {L"-"},
    };
    for (const auto& arguments : refused) {
        EXPECT_FALSE(run(arguments)) << (arguments.empty() ? std::string() : TestSupport::narrow(arguments[0]));
        EXPECT_FALSE(Ostrand::FileIO().exists(path()));
    }
    EXPECT_TRUE(uninstalls.empty());
}

TEST_F(Registrar, RegistersIntoAMissingFileAndRefusesTheSameCodeTwice)
{
    ASSERT_TRUE(run({L"-register=ABC"}));
    const std::string once = registryFile(LR"({"registry":[{"appcode":"ABC"}]})");
    EXPECT_EQ(once, stored());
    EXPECT_FALSE(run({L"/register=ABC"}));
    EXPECT_EQ(once, stored());
    ASSERT_TRUE(run({L"-register=AB=C"}));
    EXPECT_EQ(registryFile(LR"({"registry":[{"appcode":"AB=C"},{"appcode":"ABC"}]})"), stored());
    EXPECT_TRUE(uninstalls.empty());
}

TEST_F(Registrar, AnEmptyCodeIsNeverRegistered)
{
    EXPECT_FALSE(run({L"-register="}));
    EXPECT_FALSE(run({L"-register"}));
    EXPECT_FALSE(Ostrand::FileIO().exists(path()));
}

TEST_F(Registrar, RegisterOverADamagedFileStartsTheListAfresh)
{
    for (const std::wstring damaged : {L"{\"registry\":", L"{\"registry\":[{\"appcode\":5}]}"}) {
        store(damaged);
        ASSERT_TRUE(run({L"-register=ABC"}));
        EXPECT_EQ(registryFile(LR"({"registry":[{"appcode":"ABC"}]})"), stored());
    }
}

TEST_F(Registrar, UnregisterRemovesOnlyListedCodes)
{
    store(LR"({"registry":[{"appcode":"A"},{"appcode":"B"}]})");
    const std::string before = stored();
    EXPECT_FALSE(run({L"-unregister=XYZ"}));
    EXPECT_FALSE(run({L"-unregister=a"}));
    EXPECT_FALSE(run({L"-unregister="}));
    EXPECT_EQ(before, stored());
    ASSERT_TRUE(run({L"-unregister=A"}));
    EXPECT_EQ(registryFile(LR"({"registry":[{"appcode":"B"}]})"), stored());
    EXPECT_TRUE(uninstalls.empty());
}

// The component goes only when the uninstall ran; from its start on, the
// lock file says so, and every later run fails and changes nothing. An
// uninstall that could not run takes the mark back.
TEST_F(Registrar, UnregisterOfTheLastCodeSavesThenUninstalls)
{
    const std::wstring removing = L"The component is being removed (" + lockFile() + L" says so).";
    store(LR"({"registry":[{"appcode":"ABC"}]})");
    uninstallSucceeds = false;
    EXPECT_FALSE(run({L"-unregister=ABC"}));
    EXPECT_EQ(1U, uninstalls.size());
    EXPECT_EQ(registryFile(L"{}"), stored());
    ASSERT_TRUE(run({L"-register=ABC"}));
    EXPECT_FALSE(logged(L"Error", removing));

    uninstallSucceeds = true;
    ASSERT_TRUE(run({L"-unregister=ABC"}));
    ASSERT_EQ(2U, uninstalls.size());
    EXPECT_EQ(path(), uninstalls[1]);
    EXPECT_EQ(registryFile(L"{}"), stateAtUninstall);
    EXPECT_EQ("The component is being removed.\r\n", TestSupport::ScratchFolder::read(lockFile()));

    for (const wchar_t* command : {L"-register=NEW", L"-unregister=ABC", L"-unregister=NEW"}) {
        linesBefore = log.lines().size();
        EXPECT_FALSE(run({command})) << TestSupport::narrow(command);
        EXPECT_TRUE(logged(L"Error", removing + L" Nothing was changed. Returning.")) << TestSupport::narrow(command);
    }
    EXPECT_EQ(registryFile(L"{}"), stored());
    EXPECT_EQ(2U, uninstalls.size());
}

TEST_F(Registrar, UnregisterWithoutAUsableFileUninstallsWhateverTheCode)
{
    enum class Damage { Missing, Invalid, WrongTypes, Folder, NoFolderAround };
    for (Damage damage :
         {Damage::Missing, Damage::Invalid, Damage::WrongTypes, Damage::Folder, Damage::NoFolderAround}) {
        uninstalls.clear();
        fileName = damage == Damage::NoFolderAround ? L"missing\\appregistry.dat" : L"appregistry.dat";
        DeleteFileW(path().c_str());
        RemoveDirectoryW(path().c_str());
        switch (damage) {
        case Damage::Missing: break;
        case Damage::Invalid: store(L"not json"); break;
        case Damage::WrongTypes: store(LR"({"registry":[{"appcode":1}]})"); break;
        case Damage::Folder: CreateDirectoryW(path().c_str(), nullptr); break;
        case Damage::NoFolderAround: break;
        }
        EXPECT_TRUE(run({L"-unregister=anything"})) << static_cast<int>(damage);
        EXPECT_EQ(std::vector<std::wstring>{path()}, uninstalls) << static_cast<int>(damage);
        // The next case is another component.
        DeleteFileW(lockFile().c_str());
    }
    // Nothing made the missing folder.
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.file(L"missing").c_str()));
    fileName = L"appregistry.dat";
    RemoveDirectoryW(path().c_str());
    uninstallSucceeds = false;
    EXPECT_FALSE(run({L"-unregister=anything"}));
}

// Another program holds the registry file or its lock file without sharing,
// or another run holds its turn at it, for longer than the run may wait (the
// bound is set short here): the run says so and changes nothing; an
// unregister never takes the busy file for a missing or damaged one and
// uninstalls. A run that gave up keeps nothing held: once the holder lets
// go, the next run goes ahead.
TEST_F(Registrar, WhatHoldsTheFileLongerThanTheBoundMakesTheRunChangeNothing)
{
    struct Case {
        const char* name;
        Holder holder;
        const wchar_t* command;
        const wchar_t* after; // once the holder has let go
    };
    const wchar_t* const registered = LR"({"registry":[{"appcode":"A"},{"appcode":"B"},{"appcode":"NEW"}]})";
    const wchar_t* const unregistered = LR"({"registry":[{"appcode":"B"}]})";
    const Case cases[] = {
        {"register, file held", Holder::RegistryFile, L"-register=NEW", registered},
        {"unregister, file held", Holder::RegistryFile, L"-unregister=A", unregistered},
        {"register, turn held", Holder::Turn, L"-register=NEW", registered},
        {"unregister, turn held", Holder::Turn, L"-unregister=A", unregistered},
        {"register, lock file held", Holder::LockFileUnshared, L"-register=NEW", registered},
        {"unregister, lock file held", Holder::LockFileUnshared, L"-unregister=A", unregistered},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store(LR"({"registry":[{"appcode":"A"},{"appcode":"B"}]})");
        const std::string before = stored();
        const HANDLE holder = hold(c.holder, c.holder == Holder::RegistryFile ? path() : lockFile());
        ASSERT_NE(INVALID_HANDLE_VALUE, holder);

        waitBound = std::chrono::milliseconds(100);
        EXPECT_FALSE(run({c.command}));
        EXPECT_TRUE(uninstalls.empty());
        const std::wstring gaveUp =
            c.holder == Holder::Turn
                ? L"Another run still had its turn at " + path() + L" after 100 ms of waiting."
                : (c.holder == Holder::RegistryFile ? path() : lockFile()) +
                      L" was still held by another program after 100 ms of waiting.";
        EXPECT_TRUE(logged(L"Error", gaveUp + L" Nothing was changed. Returning.")) << TestSupport::narrow(gaveUp);

        CloseHandle(holder);
        EXPECT_EQ(before, stored());
        waitBound = CollectiveRegistrar::kWaitBound;
        EXPECT_TRUE(run({c.command}));
        EXPECT_EQ(registryFile(c.after), stored());
        EXPECT_TRUE(uninstalls.empty());
    }
}

// Whatever keeps the run waiting, one after the other, the run waits for it
// all within its one bound: it gives up when the bound is spent, however the
// waiting fell between the turn, the lock file and the registry file. The
// first holder keeps the run waiting for most of the bound, then the second
// takes over and lets go only once the run would have waited past its bound:
// a run that gave the second wait a bound of its own would then go ahead. The
// clock moves only while the run pauses.
TEST_F(Registrar, EveryWaitOfARunComesOutOfOneBound)
{
    struct Case {
        const char* name;
        Holder first;
        Holder second;
        const wchar_t* command;
        const wchar_t* registry; // what the file holds before and after
    };
    const Case cases[] = {
        {"turn, then the registry file", Holder::Turn, Holder::RegistryFile, L"-register=NEW",
         LR"({"registry":[{"appcode":"A"}]})"},
        {"lock file, then the turn", Holder::LockFileUnshared, Holder::Turn, L"-register=NEW",
         LR"({"registry":[{"appcode":"A"}]})"},
        // The mark needs the lock file open for writing.
        {"turn, then the lock file for reading", Holder::Turn, Holder::LockFileSharedForReading, L"-unregister=A",
         LR"({"registry":[{"appcode":"A"}]})"},
    };
    const std::chrono::milliseconds mostOfTheBound = CollectiveRegistrar::kWaitBound * 5 / 6;
    const std::chrono::milliseconds pastTheBound = CollectiveRegistrar::kWaitBound + std::chrono::seconds(5);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store(c.registry);
        const std::string before = stored();
        const auto target = [&](Holder holder) { return holder == Holder::RegistryFile ? path() : lockFile(); };
        HANDLE holder = hold(c.first, target(c.first));
        ASSERT_NE(INVALID_HANDLE_VALUE, holder);
        bool handedOver = false;
        bool letGo = false;
        clock = std::make_shared<SteppedClock>();
        clock->onPause = [&](std::chrono::milliseconds elapsed) {
            if (!handedOver && elapsed >= mostOfTheBound) {
                CloseHandle(holder);
                holder = hold(c.second, target(c.second));
                EXPECT_NE(INVALID_HANDLE_VALUE, holder);
                handedOver = true;
            } else if (handedOver && !letGo && elapsed >= pastTheBound) {
                CloseHandle(holder);
                letGo = true;
            }
        };

        EXPECT_FALSE(run({c.command}));
        EXPECT_TRUE(handedOver);
        EXPECT_FALSE(letGo) << "the run still waited once its one bound was spent";
        EXPECT_TRUE(uninstalls.empty());
        EXPECT_TRUE(logged(L"Error", L"after 60000 ms of waiting. Nothing was changed. Returning."));
        if (!letGo)
            CloseHandle(holder);
        EXPECT_EQ(before, stored());
        EXPECT_EQ("", TestSupport::ScratchFolder::read(lockFile()));
        linesBefore = log.lines().size();
    }
}

// What holds the lock file for a while is waited for, as a run in its turn
// is: the run then goes ahead. Held sharing reading, it keeps only the mark
// of an uninstall waiting, which needs to write it.
TEST_F(Registrar, WhatHoldsTheLockFileForAWhileIsWaitedFor)
{
    struct Case {
        const char* name;
        Holder holder;
        const wchar_t* command;
        const wchar_t* before;
        const wchar_t* after;
        bool waits;
    };
    const Case cases[] = {
        {"register, held unshared", Holder::LockFileUnshared, L"-register=NEW", LR"({"registry":[{"appcode":"A"}]})",
         LR"({"registry":[{"appcode":"A"},{"appcode":"NEW"}]})", true},
        {"unregister, held unshared", Holder::LockFileUnshared, L"-unregister=A",
         LR"({"registry":[{"appcode":"A"},{"appcode":"B"}]})", LR"({"registry":[{"appcode":"B"}]})", true},
        {"register, held for reading", Holder::LockFileSharedForReading, L"-register=NEW",
         LR"({"registry":[{"appcode":"A"}]})", LR"({"registry":[{"appcode":"A"},{"appcode":"NEW"}]})", false},
        {"last unregister, held for reading", Holder::LockFileSharedForReading, L"-unregister=A",
         LR"({"registry":[{"appcode":"A"}]})", L"{}", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store(c.before);
        DeleteFileW(lockFile().c_str());
        uninstalls.clear();
        HANDLE holder = hold(c.holder, lockFile());
        ASSERT_NE(INVALID_HANDLE_VALUE, holder);
        clock = std::make_shared<SteppedClock>();
        clock->onPause = [&](std::chrono::milliseconds) {
            CloseHandle(holder);
            holder = INVALID_HANDLE_VALUE;
        };
        linesBefore = log.lines().size();

        EXPECT_TRUE(run({c.command}));
        EXPECT_EQ(c.waits, holder == INVALID_HANDLE_VALUE);
        EXPECT_EQ(c.waits, logged(L"Information", lockFile() + L" is held by another program. Waiting for it."));
        EXPECT_EQ(registryFile(c.after), stored());
        EXPECT_EQ(std::wstring(c.after) == L"{}" ? 1U : 0U, uninstalls.size());
        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
    }
}

// Without its lock the run cannot know it is alone: it changes nothing.
TEST_F(Registrar, ALockFileThatCannotBeOpenedMakesTheRunChangeNothing)
{
    ASSERT_TRUE(CreateDirectoryW(lockFile().c_str(), nullptr));
    store(LR"({"registry":[{"appcode":"A"}]})");
    const std::string before = stored();
    for (const wchar_t* command : {L"-register=NEW", L"-unregister=A"}) {
        EXPECT_FALSE(run({command})) << TestSupport::narrow(command);
        EXPECT_EQ(before, stored());
        EXPECT_TRUE(uninstalls.empty());
    }
    EXPECT_TRUE(logged(L"Error", L"Could not lock " + lockFile() + L". Error code "));
    RemoveDirectoryW(lockFile().c_str());
}

TEST_F(Registrar, AFailedSaveOnUnregisterNeitherChangesTheFileNorUninstalls)
{
    class NoReplace : public Ostrand::FileIO {
    public:
        bool replace(const std::wstring&, const std::wstring&) override { return false; }
    };
    store(LR"({"registry":[{"appcode":"ABC"}]})");
    const std::string before = stored();
    EXPECT_FALSE(run({L"-unregister=ABC"}, std::make_shared<NoReplace>()));
    EXPECT_EQ(before, stored());
    EXPECT_TRUE(uninstalls.empty());
    EXPECT_FALSE(run({L"-register=NEW"}, std::make_shared<NoReplace>()));
    EXPECT_EQ(before, stored());
}

TEST_F(Registrar, NullArgumentVectorIsRefused)
{
    CollectiveRegistrar registrar(path(), nullptr);
    EXPECT_FALSE(registrar.execute(2, nullptr));
    const wchar_t* argv[] = {L"Tolvane.exe", nullptr};
    EXPECT_FALSE(registrar.execute(2, argv));
    // No callback: an uninstall cannot run.
    const wchar_t* unregister[] = {L"Tolvane.exe", L"-unregister=A"};
    EXPECT_FALSE(registrar.execute(2, unregister));
}

} // namespace
