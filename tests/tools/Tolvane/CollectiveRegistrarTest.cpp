#include "CollectiveRegistrar.h"
#include "FileIO.h"
#include "RegistryFileBytes.h"
#include "RegistryFileHolder.h"

#include "LogFile.h"
#include "ScratchFolder.h"
#include "TestNames.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

using Ostrand::CollectiveRegistrar;
using TolvaneTests::Holder;
using TolvaneTests::hold;
using TolvaneTests::registryFile;

namespace {

class Registrar : public ::testing::Test {
protected:
    std::wstring path() const { return folder.file(fileName); }
    std::string stored() const { return TestSupport::ScratchFolder::read(path()); }
    void store(const std::wstring& text) const { folder.write(L"appregistry.dat", registryFile(text)); }

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
            std::move(io), nullptr, nullptr, nullptr, waitBound);
        return registrar.execute(static_cast<int>(argv.size()), argv.data());
    }

    TestSupport::LogFile log;
    TestSupport::ScratchFolder folder;
    std::wstring fileName = L"appregistry.dat";
    std::chrono::milliseconds waitBound = CollectiveRegistrar::kWaitBound;
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

TEST_F(Registrar, UnregisterOfTheLastCodeSavesThenUninstalls)
{
    store(LR"({"registry":[{"appcode":"ABC"}]})");
    ASSERT_TRUE(run({L"-unregister=ABC"}));
    ASSERT_EQ(1U, uninstalls.size());
    EXPECT_EQ(path(), uninstalls[0]);
    EXPECT_EQ(registryFile(L"{}"), stateAtUninstall);

    store(LR"({"registry":[{"appcode":"ABC"}]})");
    uninstallSucceeds = false;
    EXPECT_FALSE(run({L"-unregister=ABC"}));
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
    }
    // Nothing made the missing folder.
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.file(L"missing").c_str()));
    fileName = L"appregistry.dat";
    RemoveDirectoryW(path().c_str());
    uninstallSucceeds = false;
    EXPECT_FALSE(run({L"-unregister=anything"}));
}

// Another program holds the registry file without sharing, or another run
// holds its turn at it, for longer than the run may wait (the bound is set
// short here): the run says so and changes nothing; an unregister never
// takes the busy file for a missing or damaged one and uninstalls. A run
// that gave up keeps nothing held: once the holder lets go, the next run
// goes ahead.
TEST_F(Registrar, WhatHoldsTheFileLongerThanTheBoundMakesTheRunChangeNothing)
{
    struct Case {
        const char* name;
        Holder holder;
        const wchar_t* command;
        const wchar_t* after; // once the holder has let go
    };
    const Case cases[] = {
        {"register, file held", Holder::RegistryFile, L"-register=NEW",
         LR"({"registry":[{"appcode":"A"},{"appcode":"B"},{"appcode":"NEW"}]})"},
        {"unregister, file held", Holder::RegistryFile, L"-unregister=A", LR"({"registry":[{"appcode":"B"}]})"},
        {"register, turn held", Holder::Turn, L"-register=NEW",
         LR"({"registry":[{"appcode":"A"},{"appcode":"B"},{"appcode":"NEW"}]})"},
        {"unregister, turn held", Holder::Turn, L"-unregister=A", LR"({"registry":[{"appcode":"B"}]})"},
    };
    const std::wstring lockFile = Ostrand::RegistryFileLock::lockFileFor(path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        store(LR"({"registry":[{"appcode":"A"},{"appcode":"B"}]})");
        const std::string before = stored();
        const HANDLE holder = hold(c.holder, c.holder == Holder::RegistryFile ? path() : lockFile);
        ASSERT_NE(INVALID_HANDLE_VALUE, holder);

        waitBound = std::chrono::milliseconds(100);
        EXPECT_FALSE(run({c.command}));
        EXPECT_TRUE(uninstalls.empty());
        const std::wstring gaveUp = c.holder == Holder::RegistryFile
                                        ? path() + L" was held by another program for over 100 ms."
                                        : L"Another run kept " + path() + L" for over 100 ms.";
        EXPECT_TRUE(log.contains(4, gaveUp + L" Nothing was changed. Returning."));

        CloseHandle(holder);
        EXPECT_EQ(before, stored());
        waitBound = CollectiveRegistrar::kWaitBound;
        EXPECT_TRUE(run({c.command}));
        EXPECT_EQ(registryFile(c.after), stored());
        EXPECT_TRUE(uninstalls.empty());
    }
}

// Without its lock the run cannot know it is alone: it changes nothing.
TEST_F(Registrar, ALockFileThatCannotBeOpenedMakesTheRunChangeNothing)
{
    const std::wstring lockFile = Ostrand::RegistryFileLock::lockFileFor(path());
    ASSERT_TRUE(CreateDirectoryW(lockFile.c_str(), nullptr));
    store(LR"({"registry":[{"appcode":"A"}]})");
    const std::string before = stored();
    for (const wchar_t* command : {L"-register=NEW", L"-unregister=A"}) {
        EXPECT_FALSE(run({command})) << TestSupport::narrow(command);
        EXPECT_EQ(before, stored());
        EXPECT_TRUE(uninstalls.empty());
    }
    EXPECT_TRUE(log.contains(4, L"Could not lock " + lockFile + L". Error code "));
    RemoveDirectoryW(lockFile.c_str());
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
