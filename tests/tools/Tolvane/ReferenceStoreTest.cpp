#include "FileIO.h"
#include "JSONReferenceProvider.h"
#include "ReferenceManager.h"
#include "CaseName.h"
#include "RegistryFileBytes.h"

#include "ScratchFolder.h"
#include "TestNames.h"

#include <gtest/gtest.h>

#include <ostream>
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <random>
#include <string>
#include <vector>

using Ostrand::JSONParser;
using Ostrand::JSONReferenceProvider;
using Ostrand::ReferenceManager;
using TolvaneTests::registryFile;
using TolvaneTests::utf16le;

namespace {

using Codes = std::set<std::wstring>;

// File access that lets the test break one step of a save, and records the
// steps it was asked for.
class BreakableFileIO : public Ostrand::FileIO {
public:
    bool failReplace = false;
    bool failCommit = false;
    bool writeGoesNowhere = false; // hands out a file opened for reading only
    std::wstring lastOpened;
    std::vector<std::string> steps;

    std::shared_ptr<FILE> open(const std::wstring& path, const std::wstring& mode) override
    {
        lastOpened = path;
        steps.push_back("open " + TestSupport::narrow(mode));
        if (writeGoesNowhere && mode == L"wb") {
            Ostrand::FileIO::open(path, mode); // creates it, closes it at once
            return Ostrand::FileIO::open(path, L"rb");
        }
        return Ostrand::FileIO::open(path, mode);
    }
    bool commit(std::shared_ptr<FILE> file) override
    {
        // What is committed is the whole new file.
        fflush(file.get());
        steps.push_back("commit " + std::to_string(TestSupport::ScratchFolder::read(lastOpened).size()));
        const bool committed = Ostrand::FileIO::commit(std::move(file));
        return !failCommit && committed;
    }
    bool replace(const std::wstring& from, const std::wstring& to) override
    {
        steps.push_back("replace");
        return !failReplace && Ostrand::FileIO::replace(from, to);
    }
};

class ReferenceStore : public ::testing::Test {
protected:
    std::wstring path() const { return folder.file(L"appregistry.dat"); }
    std::shared_ptr<JSONReferenceProvider> provider(std::shared_ptr<Ostrand::IFileIO> io = {}) const
    {
        return std::make_shared<JSONReferenceProvider>(nullptr, std::move(io), path());
    }
    std::string stored() const { return TestSupport::ScratchFolder::read(path()); }

    TestSupport::ScratchFolder folder;
};

TEST_F(ReferenceStore, SavesCodesInOrdinalOrderAsUtf16WithTheMark)
{
    ReferenceManager manager(provider());
    for (const wchar_t* code : {L"b", L"B", L"a", L"\x00E9", L"Z"})
        ASSERT_TRUE(manager.add(code));
    ASSERT_TRUE(manager.save());
    EXPECT_EQ(registryFile(LR"({"registry":[{"appcode":"B"},{"appcode":"Z"},{"appcode":"a"},{"appcode":"b"},)"
                           LR"({"appcode":")"
                           L"\x00E9"
                           LR"("}]})"),
              stored());
}

TEST_F(ReferenceStore, ManagerCountsOnlyRealChanges)
{
    ReferenceManager manager(nullptr);
    EXPECT_TRUE(manager.add(L"A"));
    EXPECT_FALSE(manager.add(L"A"));
    EXPECT_TRUE(manager.add(L"a"));
    EXPECT_EQ(2U, manager.count());
    EXPECT_FALSE(manager.remove(L"B"));
    EXPECT_TRUE(manager.contains(L"a"));
    EXPECT_FALSE(manager.contains(L"A "));
    EXPECT_TRUE(manager.remove(L"A"));
    EXPECT_EQ(1U, manager.count());
    // The default provider stores nothing and never fails.
    EXPECT_TRUE(manager.load());
    EXPECT_TRUE(manager.save());
    EXPECT_EQ(1U, manager.count());
}

struct LoadCase {
    const char* what;
    bool present;
    std::string bytes;
    bool initialized;
    bool loaded;
    Codes codes;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const LoadCase& c, std::ostream* out) { *out << c.what; }

class Loading : public ReferenceStore, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(Loading, ReadsOnlyWellFormedLists)
{
    const LoadCase& c = GetParam();
    if (c.present)
        folder.write(L"appregistry.dat", c.bytes);
    auto store = provider();
    ReferenceManager manager(store);
    EXPECT_EQ(c.initialized, store->initialize());
    EXPECT_EQ(c.loaded, manager.load());
    for (const std::wstring& code : c.codes)
        EXPECT_TRUE(manager.contains(code)) << TestSupport::narrow(code);
    EXPECT_EQ(c.codes.size(), manager.count());
    if (c.present) {
        EXPECT_EQ(c.bytes, stored()); // reading never writes
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Loading,
    ::testing::Values(
        LoadCase{"missing", false, "", true, true, {}},
        LoadCase{"two codes", true, registryFile(LR"({"registry":[{"appcode":"A"},{"appcode":"B"}]})"), true, true,
                 {L"A", L"B"}},
        LoadCase{"without mark", true, utf16le(LR"({"registry":[{"appcode":"A"}]})"), true, true, {L"A"}},
        LoadCase{"repeated code", true, registryFile(LR"({"registry":[{"appcode":"A"},{"appcode":"A"}]})"), true,
                 true, {L"A"}},
        LoadCase{"further members", true, registryFile(LR"({"v":2,"registry":[{"appcode":"A","x":1}]})"), true, true,
                 {L"A"}},
        LoadCase{"number code", true, registryFile(LR"({"registry":[{"appcode":"A"},{"appcode":1}]})"), true, false,
                 {}},
        LoadCase{"element no object", true, registryFile(LR"({"registry":["A"]})"), true, false, {}},
        LoadCase{"no registry", true, registryFile(LR"({"x":[]})"), true, false, {}},
        LoadCase{"registry no array", true, registryFile(LR"({"registry":{"appcode":"A"}})"), true, false, {}},
        LoadCase{"array", true, registryFile(L"[]"), true, true, {}},
        LoadCase{"empty object", true, registryFile(L"{}"), true, true, {}},
        LoadCase{"empty file", true, "", false, true, {}},
        LoadCase{"only the mark", true, "\xFF\xFE", false, true, {}},
        LoadCase{"not json", true, registryFile(L"registry=A"), false, true, {}},
        LoadCase{"cut short", true, registryFile(LR"({"registry":[{"appcode":"A"})"), false, true, {}},
        LoadCase{"utf8", true, R"({"registry":[{"appcode":"A"}]})", false, true, {}}),
    TolvaneTests::CaseName());

// A file that is there but cannot be read now is busy: its content is
// unknown, which is not the damage of a file that reads as no registry. Once
// it can be read, the same provider reads it.
TEST_F(ReferenceStore, AFileThatCannotBeReadNowIsBusyNotDamaged)
{
    class Refusing : public Ostrand::FileIO {
    public:
        enum class Refusal { None, Open, Read } refusal = Refusal::None;
        std::shared_ptr<FILE> open(const std::wstring& path, const std::wstring& mode) override
        {
            if (refusal == Refusal::Open)
                return {};
            if (refusal != Refusal::Read)
                return Ostrand::FileIO::open(path, mode);
            // A stream for reading over a handle the system lets write
            // only: every read of it fails.
            const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, 0, nullptr);
            if (handle == INVALID_HANDLE_VALUE)
                return {};
            const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
            FILE* file = descriptor >= 0 ? _fdopen(descriptor, "rb") : nullptr;
            if (!file) {
                if (descriptor >= 0)
                    _close(descriptor);
                else
                    CloseHandle(handle);
                return {};
            }
            return std::shared_ptr<FILE>(file, fclose);
        }
    };
    enum class Trouble { HeldWithoutSharing, OpenRefused, ReadFails, NotJson };
    struct Case {
        const char* name;
        Trouble trouble;
        bool busy;
    };
    const Case cases[] = {
        {"held by another handle that shares nothing", Trouble::HeldWithoutSharing, true},
        {"there, but it does not open", Trouble::OpenRefused, true},
        {"a read fails part of the way", Trouble::ReadFails, true},
        {"reads, but is no JSON", Trouble::NotJson, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        folder.write(L"appregistry.dat", registryFile(c.trouble == Trouble::NotJson
                                                          ? LR"({"registry":[{"appcode":"A"}])"
                                                          : LR"({"registry":[{"appcode":"A"}]})"));
        auto io = std::make_shared<Refusing>();
        io->refusal = c.trouble == Trouble::OpenRefused ? Refusing::Refusal::Open
                      : c.trouble == Trouble::ReadFails ? Refusing::Refusal::Read
                                                        : Refusing::Refusal::None;
        HANDLE exclusive = INVALID_HANDLE_VALUE;
        if (c.trouble == Trouble::HeldWithoutSharing) {
            exclusive = CreateFileW(path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, exclusive);
        }
        auto store = provider(io);
        ReferenceManager manager(store);
        EXPECT_FALSE(store->initialize());
        EXPECT_EQ(c.busy, store->wasBusy());
        if (exclusive != INVALID_HANDLE_VALUE)
            CloseHandle(exclusive);
        if (!c.busy)
            continue;
        io->refusal = Refusing::Refusal::None;
        ASSERT_TRUE(store->initialize());
        EXPECT_FALSE(store->wasBusy());
        ASSERT_TRUE(manager.load());
        EXPECT_TRUE(manager.contains(L"A"));
    }
    // A missing file is no trouble at all.
    DeleteFileW(path().c_str());
    auto store = provider();
    EXPECT_TRUE(store->initialize());
    EXPECT_FALSE(store->wasBusy());
}

TEST_F(ReferenceStore, ProviderInitialisesOnce)
{
    auto store = provider();
    EXPECT_FALSE(store->isInitialized());
    EXPECT_FALSE(store->uninitialize());
    EXPECT_TRUE(store->initialize());
    EXPECT_FALSE(store->initialize());
    EXPECT_TRUE(store->isInitialized());
    EXPECT_TRUE(store->uninitialize());
    EXPECT_FALSE(store->isInitialized());
}

TEST_F(ReferenceStore, SavingDropsUnknownMembersAndLeavesAnEmptyObjectAfterTheLastCode)
{
    folder.write(L"appregistry.dat", registryFile(LR"({"v":2,"registry":[{"appcode":"A","x":1}]})"));
    auto store = provider();
    ReferenceManager manager(store);
    ASSERT_TRUE(store->initialize());
    ASSERT_TRUE(manager.load());
    ASSERT_TRUE(manager.save());
    EXPECT_EQ(registryFile(LR"({"registry":[{"appcode":"A"}]})"), stored());
    ASSERT_TRUE(manager.remove(L"A"));
    ASSERT_TRUE(manager.save());
    EXPECT_EQ(registryFile(L"{}"), stored());

    // Also when what was read was no object at all.
    folder.write(L"appregistry.dat", registryFile(L"[]"));
    auto fromArray = provider();
    ASSERT_TRUE(fromArray->initialize());
    ASSERT_TRUE(fromArray->save({}));
    EXPECT_EQ(registryFile(L"{}"), stored());
}

// A save puts the new file on the disk, whole and closed, before it takes the
// old one's place; a failure at any step leaves the old file as it was, no
// new file beside it, and is reported.
TEST_F(ReferenceStore, ASaveCommitsTheNewFileBeforeItReplacesTheOld)
{
    folder.write(L"appregistry.dat", registryFile(LR"({"registry":[{"appcode":"A"}]})"));
    auto io = std::make_shared<BreakableFileIO>();
    ASSERT_TRUE(provider(io)->save({L"A", L"B"}));
    const std::string saved = registryFile(LR"({"registry":[{"appcode":"A"},{"appcode":"B"}]})");
    EXPECT_EQ(saved, stored());
    EXPECT_EQ((std::vector<std::string>{"open wb", "commit " + std::to_string(saved.size()), "replace"}), io->steps);
}

TEST_F(ReferenceStore, AFailedSaveLeavesTheOldFileWhole)
{
    const std::string before = registryFile(LR"({"registry":[{"appcode":"A"}]})");
    folder.write(L"appregistry.dat", before);
    Codes many;
    for (int i = 0; i < 200; ++i)
        many.insert(L"CODE" + std::to_wstring(i));

    const struct {
        const char* step;
        bool failReplace, failCommit, writeGoesNowhere;
    } cases[] = {
        {"replace", true, false, false},
        {"commit", false, true, false},
        {"write", false, false, true},
    };
    for (const auto& c : cases) {
        auto io = std::make_shared<BreakableFileIO>();
        io->failReplace = c.failReplace;
        io->failCommit = c.failCommit;
        io->writeGoesNowhere = c.writeGoesNowhere;
        auto store = provider(io);
        EXPECT_FALSE(store->save(many)) << c.step;
        EXPECT_EQ(before, stored()) << c.step;
        // Nothing is left beside it.
        EXPECT_NE(path(), io->lastOpened);
        EXPECT_FALSE(Ostrand::FileIO().exists(io->lastOpened)) << c.step;
        if (c.failCommit) {
            EXPECT_EQ(2U, io->steps.size()) << "no replace after a failed commit";
        }
    }
    EXPECT_FALSE(provider()->save({std::wstring(1, wchar_t(0xDC00))}));
    EXPECT_EQ(before, stored());
}

TEST_F(ReferenceStore, EmptyPathMeansTheJsonFileInTheCurrentFolder)
{
    wchar_t previous[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.path().c_str()));
    JSONReferenceProvider store(nullptr, nullptr, L"");
    EXPECT_TRUE(store.initialize());
    EXPECT_TRUE(store.save({L"A"}));
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(registryFile(LR"({"registry":[{"appcode":"A"}]})"),
              TestSupport::ScratchFolder::read(folder.file(L"appregistry.json")));
}

// Damaged copies of a good file, made by a fixed seed: each is either refused
// or read as a list of codes, never a crash or a read past the data.
TEST_F(ReferenceStore, MutatedFilesAreReadOrRefusedWithoutHarm)
{
    const std::string good =
        registryFile(LR"({"registry":[{"appcode":"ABC"},{"appcode":"x\"y"},{"appcode":"\u00e9"}]})");
    std::mt19937 random(20261210);
    for (int round = 0; round < 300; ++round) {
        std::string bytes = good;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits && !bytes.empty(); ++e) {
            const size_t at = random() % bytes.size();
            switch (random() % 4) {
            case 0: bytes[at] = static_cast<char>(random()); break;
            case 1: bytes.erase(at, 1 + random() % 3); break;
            case 2: bytes.insert(at, 1, static_cast<char>(random())); break;
            default: bytes.resize(at); break;
            }
        }
        folder.write(L"appregistry.dat", bytes);
        auto store = provider();
        ReferenceManager manager(store);
        const bool initialized = store->initialize();
        const bool loaded = manager.load();
        if (!initialized || !loaded) {
            EXPECT_EQ(0U, manager.count()) << round;
        }
        EXPECT_LE(manager.count(), 3U) << round;
    }
}

} // namespace
