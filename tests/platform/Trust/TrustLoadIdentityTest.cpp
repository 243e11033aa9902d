// A trust-checked load maps the file it checked, whatever happens to the way
// to it: the folders that lead to it, the name it is given, a module already
// mapped under its name. The marking library's DllMain leaves a mark; no copy
// of it that is not trusted may ever run.
#include "FolderSwapper.h"
#include "GlobalListScope.h"
#include "LoadMark.h"
#include "TrustKit.h"

#include "ScratchFolder.h"
#include "TestNames.h"
#include "WaitUntil.h"

#include "trust/TrustHandles.h"
#include "trust/TrustHeldFile.h"
#include "trust/TrustLoad.h"
#include "trust/TrustPathPin.h"
#include "trust/TrustValidator.h"

#include <gtest/gtest.h>

#include <string>

using namespace TrustTests;

namespace {

class TrustedKitIdentity : public ::testing::Test {
protected:
    void SetUp() override
    {
        scope.writeList(listText("8", {kitThumbprintText("root")}));
        ASSERT_TRUE(mark.ready());
    }
    static void copy(const wchar_t* kitName, const std::wstring& to)
    {
        ASSERT_TRUE(CopyFileW(kitFile(kitName).c_str(), to.c_str(), FALSE)) << TestSupport::narrow(to);
    }
    static std::wstring fileOf(HMODULE module)
    {
        wchar_t path[MAX_PATH] = {};
        DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
        return std::wstring(path, n < MAX_PATH ? n : 0);
    }
    static bool isSignedSample(HMODULE module) { return GetProcAddress(module, "TrustSampleAnswer") != nullptr; }

    GlobalListScope scope;
    LoadMark::Watch mark{L"TrustMarkLoaded"};
};

// The folder that holds the checked file is traded, around repeated loads,
// for one that holds the marking library under the same name.
TEST_F(TrustedKitIdentity, AFolderTradedAroundLoadsNeverBringsInAnotherFile)
{
    TestSupport::ScratchFolder base(L"trade");
    const std::wstring lib = base.file(L"lib"), other = base.file(L"other");
    ASSERT_TRUE(CreateDirectoryW(lib.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(other.c_str(), nullptr));
    copy(L"sample-signed.dll", lib + L"\\probe.dll");
    copy(L"mark-unsigned.dll", other + L"\\probe.dll");
    const std::wstring target = lib + L"\\probe.dll";

    long loads = 0, refusals = 0, foreign = 0;
    {
        FolderSwapper swapper(lib, other);
        // Until the race has surely been run both ways: trades made during
        // loads, and loads that got through. A fault shows in the first few.
        TestSupport::waitUntil(
            [&] {
                swapper.loadBegins();
                HMODULE module = TrustLoadLibraryExW(target.c_str(), 0);
                swapper.loadEnds();
                if (!module) {
                    ++refusals;
                } else {
                    ++loads;
                    if (!isSignedSample(module))
                        ++foreign;
                    FreeLibrary(module);
                }
                return foreign > 0 || mark.seen() || (swapper.swaps() >= 20 && loads >= 20);
            },
            std::chrono::seconds(60));
        swapper.stop();
        RecordProperty("trades", static_cast<int>(swapper.swaps()));
        EXPECT_GT(swapper.swaps(), 0) << "the folders were never traded";
    }
    RecordProperty("loads", static_cast<int>(loads));
    RecordProperty("refusals", static_cast<int>(refusals));
    EXPECT_EQ(0, foreign) << loads << " loads, " << refusals << " refusals";
    EXPECT_FALSE(mark.seen()) << "the marking library's code ran";
    EXPECT_GT(loads, 0);
}

// From inside its own load (its DllMain), a trusted library tries to move
// the way to its file: none of it may move while the load holds it.
TEST_F(TrustedKitIdentity, NothingOnTheWayToTheFileMovesDuringTheLoad)
{
    TestSupport::ScratchFolder base(L"pinned");
    const std::wstring folder = base.file(L"deep");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring target = folder + L"\\probe.dll";
    copy(L"mark-signed.dll", target);
    SetEnvironmentVariableW(L"TRUST_MARK_PROBE", L"1");
    SetEnvironmentVariableW(L"TRUST_MARK_PROBE_RESULT", nullptr);
    HMODULE module = TrustLoadLibraryExW(target.c_str(), 0);
    SetEnvironmentVariableW(L"TRUST_MARK_PROBE", nullptr);
    ASSERT_NE(nullptr, module) << GetLastError();
    FreeLibrary(module);
    wchar_t text[128] = {};
    ASSERT_GT(GetEnvironmentVariableW(L"TRUST_MARK_PROBE_RESULT", text, 128), 0u) << "the probe did not run";
    unsigned long file = 0, dir = 0, write = 0, del = 0;
    ASSERT_EQ(4, swscanf(text, L"file=%lu folder=%lu write=%lu delete=%lu", &file, &dir, &write, &del));
    EXPECT_NE(0u, file) << "the file was renamed";
    EXPECT_NE(0u, dir) << "the folder holding it was renamed";
    EXPECT_NE(0u, write) << "the file was opened for writing";
    EXPECT_NE(0u, del) << "the file was opened for deletion";
}

// The checked file is the held one: its signer is read from what is held,
// not from whatever its path names by the time the signer is looked at.
struct HeldCase {
    const char* label;
    const wchar_t* held; // opened, then its folder moved away
    const wchar_t* nowAtPath;
    DWORD answer;
};

class HeldFileSigner : public TrustedKitIdentity, public ::testing::WithParamInterface<HeldCase> {};

TEST_P(HeldFileSigner, TheHeldFileDecides)
{
    const HeldCase& c = GetParam();
    TestSupport::ScratchFolder base(L"held");
    const std::wstring folder = base.file(L"lib");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring path = folder + L"\\probe.dll";
    copy(c.held, path);
    Halvex::trust::FileHandle held(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    ASSERT_TRUE(MoveFileExW(folder.c_str(), (folder + L"-away").c_str(), 0));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    copy(c.nowAtPath, path);
    EXPECT_EQ(c.answer, TrustVerifyHeldFile(path.c_str(), held.get()));
}

INSTANTIATE_TEST_SUITE_P(
    Files, HeldFileSigner,
    ::testing::Values(HeldCase{"StrangerHeldSignedAtPath", L"sample-stranger.dll", L"sample-signed.dll", 5},
                      HeldCase{"UnsignedHeldSignedAtPath", L"sample-unsigned.dll", L"sample-signed.dll", 5},
                      HeldCase{"SignedHeldStrangerAtPath", L"sample-signed.dll", L"sample-stranger.dll", 0}),
    [](const ::testing::TestParamInfo<HeldCase>& info) { return std::string(info.param.label); });

// A name stands for the file the loader maps for it: ".dll" is added to a
// last component without an extension (a dot elsewhere does not count), a
// trailing dot means none, and the "\\?\" and "\\.\" spellings name the same
// file as the plain one.
enum class Spelling { Full, LongPrefix, DevicePrefix, Relative };

struct NameCase {
    const char* label;
    const wchar_t* asProbe;    // kit file put at "probe" (no extension)
    const wchar_t* asProbeDll; // kit file put at "probe.dll"
    const wchar_t* name;       // the last component as the caller spells it
    Spelling spelling;
    const wchar_t* loads; // the file that must be mapped; null: refused
};

class LoaderName : public TrustedKitIdentity, public ::testing::WithParamInterface<NameCase> {
protected:
    void SetUp() override
    {
        TrustedKitIdentity::SetUp();
        GetCurrentDirectoryW(MAX_PATH, m_previous);
    }
    void TearDown() override { SetCurrentDirectoryW(m_previous); }

    TestSupport::ScratchFolder base{L"names"};
    wchar_t m_previous[MAX_PATH] = {};
};

TEST_P(LoaderName, TheFileCheckedIsTheFileMapped)
{
    const NameCase& c = GetParam();
    // A dot in the folder's name, which is not the file's extension.
    const std::wstring folder = base.file(L"lib.d");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    copy(c.asProbe, folder + L"\\probe");
    copy(c.asProbeDll, folder + L"\\probe.dll");
    std::wstring spelled = folder + L"\\" + c.name;
    switch (c.spelling) {
    case Spelling::Full:
        break;
    case Spelling::LongPrefix:
        spelled = L"\\\\?\\" + spelled;
        break;
    case Spelling::DevicePrefix:
        spelled = L"\\\\.\\" + spelled;
        break;
    case Spelling::Relative:
        ASSERT_TRUE(SetCurrentDirectoryW(base.path().c_str()));
        spelled = std::wstring(L"lib.d\\") + c.name;
        break;
    }
    SetLastError(0);
    HMODULE module = TrustLoadLibraryExW(spelled.c_str(), 0);
    const DWORD error = GetLastError();
    if (c.loads) {
        ASSERT_NE(nullptr, module) << "last error " << error;
        EXPECT_EQ(0, lstrcmpiW((folder + L"\\" + c.loads).c_str(), fileOf(module).c_str()))
            << TestSupport::narrow(fileOf(module));
        EXPECT_TRUE(isSignedSample(module));
    } else {
        EXPECT_EQ(nullptr, module) << TestSupport::narrow(fileOf(module));
        EXPECT_EQ(5u, error);
    }
    EXPECT_FALSE(mark.seen()) << "the marking library's code ran";
    if (module)
        FreeLibrary(module);
}

INSTANTIATE_TEST_SUITE_P(
    Names, LoaderName,
    ::testing::Values(
        NameCase{"NoExtensionIsTheDll", L"sample-signed.dll", L"mark-unsigned.dll", L"probe", Spelling::Full, nullptr},
        NameCase{"NoExtensionLoadsTheDll", L"mark-unsigned.dll", L"sample-signed.dll", L"probe", Spelling::Full,
                 L"probe.dll"},
        NameCase{"TrailingDotIsTheBareFile", L"sample-signed.dll", L"mark-unsigned.dll", L"probe.", Spelling::Full,
                 L"probe"},
        NameCase{"TrailingDotNeverTheDll", L"mark-unsigned.dll", L"sample-signed.dll", L"probe.", Spelling::Full,
                 nullptr},
        NameCase{"RelativeNoExtensionIsTheDll", L"sample-signed.dll", L"mark-unsigned.dll", L"probe",
                 Spelling::Relative, nullptr},
        NameCase{"RelativeNoExtensionLoadsTheDll", L"mark-unsigned.dll", L"sample-signed.dll", L"probe",
                 Spelling::Relative, L"probe.dll"},
        NameCase{"LongPrefix", L"mark-unsigned.dll", L"sample-signed.dll", L"probe.dll", Spelling::LongPrefix,
                 L"probe.dll"},
        NameCase{"LongPrefixNoExtensionIsTheDll", L"sample-signed.dll", L"mark-unsigned.dll", L"probe",
                 Spelling::LongPrefix, nullptr},
        NameCase{"DevicePrefix", L"mark-unsigned.dll", L"sample-signed.dll", L"probe.dll", Spelling::DevicePrefix,
                 L"probe.dll"}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

// A module mapped before, by a plain load, from a file that was then moved
// away and replaced by the signed sample: the name now stands for a trusted
// file, but the module is not that file.
struct PreloadCase {
    const char* label;
    bool bare; // asked for by its bare name rather than its full path
};

class Preloaded : public TrustedKitIdentity, public ::testing::WithParamInterface<PreloadCase> {};

TEST_P(Preloaded, AModuleOfAnotherFileIsNeverHandedOut)
{
    TestSupport::ScratchFolder base(L"preloaded");
    const std::wstring name = L"preloaded-" + std::to_wstring(GetCurrentProcessId()) + L".dll";
    const std::wstring path = base.file(name);
    copy(L"mark-unsigned.dll", path);
    HMODULE plain = LoadLibraryW(path.c_str());
    ASSERT_NE(nullptr, plain);
    ASSERT_TRUE(MoveFileExW(path.c_str(), base.file(L"moved-away.dll").c_str(), 0));
    copy(L"sample-signed.dll", path);

    SetLastError(0);
    HMODULE module = TrustLoadLibraryExW(GetParam().bare ? name.c_str() : path.c_str(), 0);
    const DWORD error = GetLastError();
    EXPECT_EQ(nullptr, module) << (module == plain ? "the preloaded module was handed out" : "another module");
    EXPECT_EQ(5u, error);
    if (module)
        FreeLibrary(module);
    FreeLibrary(plain);
    EXPECT_EQ(nullptr, GetModuleHandleW(path.c_str())) << "a reference was kept";
}

INSTANTIATE_TEST_SUITE_P(Names, Preloaded,
                         ::testing::Values(PreloadCase{"FullPath", false}, PreloadCase{"BareName", true}),
                         [](const ::testing::TestParamInfo<PreloadCase>& info) {
                             return std::string(info.param.label);
                         });

// A trusted file without an extension, with the module "probe.dll" beside it
// already mapped: that module is another name's, and no reason to refuse.
TEST_F(TrustedKitIdentity, AModuleMappedUnderTheDllNameBesideItIsNotTheFile)
{
    TestSupport::ScratchFolder base(L"beside");
    const std::wstring bare = base.file(L"probe");
    copy(L"sample-signed.dll", bare);
    copy(L"sample-signed.dll", bare + L".dll");
    HMODULE beside = LoadLibraryW((bare + L".dll").c_str());
    ASSERT_NE(nullptr, beside);
    HMODULE module = TrustLoadLibraryExW((bare + L".").c_str(), 0);
    EXPECT_NE(nullptr, module) << "last error " << GetLastError();
    EXPECT_NE(beside, module);
    EXPECT_EQ(0, lstrcmpiW(bare.c_str(), fileOf(module).c_str())) << TestSupport::narrow(fileOf(module));
    if (module)
        FreeLibrary(module);
    FreeLibrary(beside);
}

// A file another handle holds with delete access cannot be held for the
// check: that is a sharing failure, not an untrusted file.
TEST_F(TrustedKitIdentity, AFileThatCannotBeHeldIsASharingFailure)
{
    TestSupport::ScratchFolder base(L"sharing");
    const std::wstring path = base.file(L"probe.dll");
    copy(L"sample-signed.dll", path);
    Halvex::trust::FileHandle other(CreateFileW(path.c_str(), GENERIC_READ | DELETE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(other.valid());
    SetLastError(0);
    EXPECT_EQ(nullptr, TrustLoadLibraryExW(path.c_str(), 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), TrustVerifyFile(path.c_str()));
    other.reset();
    HMODULE module = TrustLoadLibraryExW(path.c_str(), 0);
    EXPECT_NE(nullptr, module);
    if (module)
        FreeLibrary(module);
}

// A folder on the way that is a reparse point is refused only when its tag
// makes its name stand for another place; placeholders of files kept
// elsewhere and deduplicated data leave the name where it is. (A Wine prefix
// cannot hold reparse points, so the tags are judged on their own.)
struct TagCase {
    const char* label;
    DWORD tag;
    bool link;
};

class ReparseTag : public ::testing::TestWithParam<TagCase> {};

TEST_P(ReparseTag, OnlyALinkIsRefused)
{
    EXPECT_EQ(GetParam().link, Halvex::trust::TrustReparseTagIsLink(GetParam().tag));
}

INSTANTIATE_TEST_SUITE_P(Tags, ReparseTag,
                         ::testing::Values(TagCase{"SymbolicLink", IO_REPARSE_TAG_SYMLINK, true},
                                           TagCase{"MountPoint", IO_REPARSE_TAG_MOUNT_POINT, true},
                                           TagCase{"OtherNameSurrogate", 0xA000001D, true},
                                           TagCase{"CloudPlaceholder", IO_REPARSE_TAG_CLOUD_6, false},
                                           TagCase{"CloudFolder", IO_REPARSE_TAG_CLOUD, false},
                                           TagCase{"Deduplicated", IO_REPARSE_TAG_DEDUP, false},
                                           TagCase{"StorageManaged", IO_REPARSE_TAG_HSM, false}),
                         [](const ::testing::TestParamInfo<TagCase>& info) { return std::string(info.param.label); });

// A data mapping the system cannot match to its file counts as the held
// file's only when it holds the held file's bytes, every one of them.
struct DataMappingCase {
    const char* label;
    const wchar_t* mapped; // kit file mapped as data; null: the held file itself
    DWORD flags;
    bool counts;
};

class HeldDataMapping : public TrustedKitIdentity, public ::testing::WithParamInterface<DataMappingCase> {};

TEST_P(HeldDataMapping, CountsOnlyWithTheHeldFilesBytes)
{
    const DataMappingCase& c = GetParam();
    TestSupport::ScratchFolder base(L"datamap");
    const std::wstring heldPath = base.file(L"held.dll"), otherPath = base.file(L"other.dll");
    copy(L"sample-signed.dll", heldPath);
    if (c.mapped)
        copy(c.mapped, otherPath);
    Halvex::trust::TrustHeldFile held;
    ASSERT_EQ(0u, held.hold(heldPath));
    HMODULE module = LoadLibraryExW((c.mapped ? otherPath : heldPath).c_str(), nullptr, c.flags);
    ASSERT_NE(nullptr, module) << GetLastError();
    EXPECT_EQ(c.counts, held.isMappedFrom(module));
    FreeLibrary(module);
}

INSTANTIATE_TEST_SUITE_P(
    Mappings, HeldDataMapping,
    ::testing::Values(DataMappingCase{"TheHeldFile", nullptr, LOAD_LIBRARY_AS_DATAFILE, true},
                      DataMappingCase{"ACopyOfItsBytes", L"sample-signed.dll", LOAD_LIBRARY_AS_DATAFILE, true},
                      DataMappingCase{"OneByteChanged", L"sample-tampered.dll", LOAD_LIBRARY_AS_DATAFILE, false},
                      DataMappingCase{"AnotherLibrary", L"mark-unsigned.dll", LOAD_LIBRARY_AS_DATAFILE, false},
                      DataMappingCase{"OneByteChangedAsAResource", L"sample-tampered.dll",
                                      LOAD_LIBRARY_AS_IMAGE_RESOURCE, false},
                      DataMappingCase{"TheHeldFileAsAResource", nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE, true}),
    [](const ::testing::TestParamInfo<DataMappingCase>& info) { return std::string(info.param.label); });

// A folder on the way to the file that someone else holds open, in a way that
// keeps it from being held here (no read sharing, or no sharing at all), is
// no reason to refuse: the plain loader maps the file all the same, and the
// file mapped must still be the trusted one.
struct ForeignFolderCase {
    const char* label;
    int levelsUp; // 1: the folder holding the file, 2: the one above it
    DWORD access;
    DWORD share;
    bool unpinned; // the holder keeps the folder from being pinned
};

class ForeignHeldFolder : public TrustedKitIdentity, public ::testing::WithParamInterface<ForeignFolderCase> {};

TEST_P(ForeignHeldFolder, TheCheckAndTheLoadStillSucceed)
{
    const ForeignFolderCase& c = GetParam();
    TestSupport::ScratchFolder base(L"foreign");
    const std::wstring upper = base.file(L"upper"), lower = upper + L"\\lower";
    ASSERT_TRUE(CreateDirectoryW(upper.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(lower.c_str(), nullptr));
    const std::wstring path = lower + L"\\probe.dll";
    copy(L"sample-signed.dll", path);
    Halvex::trust::FileHandle reader(CreateFileW((c.levelsUp == 1 ? lower : upper).c_str(), c.access, c.share,
                                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(reader.valid()) << GetLastError();

    // At most that folder is left unpinned; the others still are pinned.
    wchar_t finalPath[MAX_PATH] = {};
    {
        Halvex::trust::FileHandle file(
            CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file.valid());
        DWORD n = GetFinalPathNameByHandleW(file.get(), finalPath, MAX_PATH, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        ASSERT_TRUE(n > 0 && n < MAX_PATH);
    }
    Halvex::trust::TrustPathPin pin;
    ASSERT_EQ(0u, pin.pin(finalPath));
    ASSERT_EQ(c.unpinned ? 1u : 0u, pin.unpinned().size());
    if (c.unpinned) {
        EXPECT_EQ(0, lstrcmpiW((L"\\\\?\\" + (c.levelsUp == 1 ? lower : upper)).c_str(), pin.unpinned()[0].c_str()))
            << TestSupport::narrow(pin.unpinned()[0]);
    }
    pin.release();

    HMODULE plain = LoadLibraryExW(path.c_str(), nullptr, 0);
    ASSERT_NE(nullptr, plain) << "the plain loader cannot map it either: " << GetLastError();
    FreeLibrary(plain);
    EXPECT_EQ(0u, TrustVerifyFile(path.c_str()));
    HMODULE module = TrustLoadLibraryExW(path.c_str(), 0);
    EXPECT_NE(nullptr, module) << "last error " << GetLastError();
    if (module) {
        EXPECT_TRUE(isSignedSample(module));
        FreeLibrary(module);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Holders, ForeignHeldFolder,
    ::testing::Values(
        ForeignFolderCase{"ListingWithoutReadSharing", 1, FILE_LIST_DIRECTORY, FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          true},
        ForeignFolderCase{"ListingWithoutReadSharingAbove", 2, FILE_LIST_DIRECTORY,
                          FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
        ForeignFolderCase{"ReadingWithoutAnySharing", 1, GENERIC_READ, 0, true},
        ForeignFolderCase{"AttributesWithoutAnySharing", 2, FILE_READ_ATTRIBUTES, 0, false}),
    [](const ::testing::TestParamInfo<ForeignFolderCase>& info) { return std::string(info.param.label); });

// A checked library's imports come from its own folder, the program's folder
// and the system folder only, and one from its own folder is checked as the
// library is: an unsigned import left in the current folder, in a PATH folder
// or beside the library never runs.
enum class ImportPlace { CurrentFolder, PathFolder, Beside };

struct ImportCase {
    const char* label;
    ImportPlace place;
    const wchar_t* import; // kit file put there as "trust_mark_double.dll"
    DWORD flags;
    DWORD error; // 0: the library loads, and its import with it
};

class CheckedImport : public TrustedKitIdentity, public ::testing::WithParamInterface<ImportCase> {
protected:
    void SetUp() override
    {
        TrustedKitIdentity::SetUp();
        GetCurrentDirectoryW(MAX_PATH, m_previousFolder);
        DWORD n = GetEnvironmentVariableW(L"PATH", nullptr, 0);
        m_previousPath.resize(n);
        GetEnvironmentVariableW(L"PATH", &m_previousPath[0], n);
        m_previousPath.resize(n ? n - 1 : 0);
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(m_previousFolder);
        SetEnvironmentVariableW(L"PATH", m_previousPath.c_str());
    }

    TestSupport::ScratchFolder library{L"importer"}, current{L"current"}, onPath{L"onpath"};
    wchar_t m_previousFolder[MAX_PATH] = {};
    std::wstring m_previousPath;
};

TEST_P(CheckedImport, AnUncheckedImportNeverRuns)
{
    const ImportCase& c = GetParam();
    const std::wstring importer = library.file(L"importer.dll");
    copy(L"importer-signed.dll", importer);
    const std::wstring& folder = c.place == ImportPlace::CurrentFolder ? current.path()
                                 : c.place == ImportPlace::PathFolder ? onPath.path()
                                                                      : library.path();
    copy(c.import, folder + L"\\trust_mark_double.dll");
    ASSERT_TRUE(SetCurrentDirectoryW(current.path().c_str()));
    ASSERT_TRUE(SetEnvironmentVariableW(L"PATH", (onPath.path() + L";" + m_previousPath).c_str()));

    SetLastError(0);
    HMODULE module = TrustLoadLibraryExW(importer.c_str(), c.flags);
    const DWORD error = GetLastError();
    if (c.error == 0) {
        ASSERT_NE(nullptr, module) << "last error " << error;
        EXPECT_TRUE(mark.seen());
        FreeLibrary(module);
        return;
    }
    EXPECT_EQ(nullptr, module);
    EXPECT_EQ(c.error, error);
    EXPECT_FALSE(mark.seen()) << "the unchecked import's code ran";
    if (module)
        FreeLibrary(module);
}

INSTANTIATE_TEST_SUITE_P(
    Places, CheckedImport,
    ::testing::Values(ImportCase{"InTheCurrentFolder", ImportPlace::CurrentFolder, L"mark-unsigned.dll", 0,
                                 ERROR_MOD_NOT_FOUND},
                      ImportCase{"InAPathFolder", ImportPlace::PathFolder, L"mark-unsigned.dll", 0,
                                 ERROR_MOD_NOT_FOUND},
                      ImportCase{"InTheCurrentFolderAlteredSearch", ImportPlace::CurrentFolder, L"mark-unsigned.dll",
                                 LOAD_WITH_ALTERED_SEARCH_PATH, ERROR_MOD_NOT_FOUND},
                      ImportCase{"UnsignedBeside", ImportPlace::Beside, L"mark-unsigned.dll", 0, ERROR_ACCESS_DENIED},
                      ImportCase{"UnsignedBesideAlteredSearch", ImportPlace::Beside, L"mark-unsigned.dll",
                                 LOAD_WITH_ALTERED_SEARCH_PATH, ERROR_ACCESS_DENIED},
                      ImportCase{"SignedBeside", ImportPlace::Beside, L"mark-signed.dll", 0, 0},
                      ImportCase{"SignedBesideAlteredSearch", ImportPlace::Beside, L"mark-signed.dll",
                                 LOAD_WITH_ALTERED_SEARCH_PATH, 0},
                      // A caller's own choice of folders stands.
                      ImportCase{"SignedBesideSystemFolderOnly", ImportPlace::Beside, L"mark-signed.dll",
                                 LOAD_LIBRARY_SEARCH_SYSTEM32, ERROR_MOD_NOT_FOUND}),
    [](const ::testing::TestParamInfo<ImportCase>& info) { return std::string(info.param.label); });

// A folder on the way that another handle holds with delete access (as a
// rename does) is the move the pin guards against: a sharing failure, for the
// check and the load alike, until that handle goes.
TEST_F(TrustedKitIdentity, AFolderHeldForRenamingIsASharingFailure)
{
    TestSupport::ScratchFolder base(L"renaming");
    const std::wstring folder = base.file(L"lib");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring path = folder + L"\\probe.dll";
    copy(L"sample-signed.dll", path);
    Halvex::trust::FileHandle renamer(CreateFileW(folder.c_str(), DELETE | SYNCHRONIZE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(renamer.valid()) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), TrustVerifyFile(path.c_str()));
    SetLastError(0);
    EXPECT_EQ(nullptr, TrustLoadLibraryExW(path.c_str(), 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    renamer.reset();
    HMODULE module = TrustLoadLibraryExW(path.c_str(), 0);
    EXPECT_NE(nullptr, module) << "last error " << GetLastError();
    if (module)
        FreeLibrary(module);
}

// However the caller asks for the module (as code, as data, as a resource),
// what is handed out is proved to be the trusted file, and no other is.
struct FlagCase {
    const char* label;
    DWORD flags;
};

class LoadFlags : public TrustedKitIdentity, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(LoadFlags, TrustedLoadsUntrustedDoesNot)
{
    const DWORD flags = GetParam().flags;
    HMODULE module = TrustLoadLibraryExW(kitFile(L"sample-signed.dll").c_str(), flags);
    EXPECT_NE(nullptr, module) << "last error " << GetLastError();
    if (module)
        FreeLibrary(module);
    SetLastError(0);
    EXPECT_EQ(nullptr, TrustLoadLibraryExW(kitFile(L"mark-unsigned.dll").c_str(), flags));
    EXPECT_EQ(5u, GetLastError());
    EXPECT_FALSE(mark.seen());
}

INSTANTIATE_TEST_SUITE_P(Flags, LoadFlags,
                         ::testing::Values(FlagCase{"Plain", 0},
                                           FlagCase{"AlteredSearchPath", LOAD_WITH_ALTERED_SEARCH_PATH},
                                           FlagCase{"DataFile", LOAD_LIBRARY_AS_DATAFILE},
                                           FlagCase{"ImageResource", LOAD_LIBRARY_AS_IMAGE_RESOURCE},
                                           FlagCase{"NoReferences", DONT_RESOLVE_DLL_REFERENCES}),
                         [](const ::testing::TestParamInfo<FlagCase>& info) { return std::string(info.param.label); });

} // namespace
