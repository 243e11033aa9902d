#include "GlobalListScope.h"
#include "TestListVerifier.h"
#include "TrustKit.h"

#include "ScratchFolder.h"
#include "TestNames.h"

#include "trust/TrustHandles.h"
#include "trust/TrustedList.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

using namespace TrustTests;

namespace {

const char* const kRootA = "00112233445566778899AABBCCDDEEFF00112233";

TEST(TrustedListLoad, SignedListLoadsAndUnsignedDoesNot)
{
    TestSupport::ScratchFolder folder;
    auto verifier = std::make_shared<TestListVerifier>();
    TrustedList good(folder.write(L"good.js", listText("9", {kRootA})), verifier);
    EXPECT_TRUE(good.LoadLocked());
    EXPECT_EQ(9u, good.Version());
    EXPECT_TRUE(good.WithPolicy([](const TrustPolicy& p) {
        return p.names && std::wstring(p.names[0]) == kSignerName && !p.names[1] && p.rootCount == 1 &&
               p.roots[0].size == 20 && p.roots[0].bytes[19] == 0x33 && !p.serials;
    }));

    TrustedList unsignedList(folder.write(L"unsigned.js", listText("9", {kRootA}, false)), verifier);
    EXPECT_FALSE(unsignedList.LoadLocked());
    EXPECT_FALSE(unsignedList.IsLoaded());
    EXPECT_EQ(0u, unsignedList.Version());

    TrustedList missing(folder.file(L"missing.js"), verifier);
    EXPECT_FALSE(missing.LoadLocked());
}

// The file is open and locked before it is verified: during the check no one
// can change or rename it, and a relative path is checked as the full path read.
TEST(TrustedListLoad, VerifiedFileIsTheFileRead)
{
    TestSupport::ScratchFolder folder;
    folder.write(L"list.js", listText("9", {kRootA}));
    auto verifier = std::make_shared<TestListVerifier>();
    bool writeRefused = false, renameRefused = false;
    verifier->during = [&](const std::wstring& full, HANDLE) {
        HANDLE w = CreateFileW(full.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        if (w == INVALID_HANDLE_VALUE) {
            writeRefused = true;
        } else {
            DWORD written = 0;
            writeRefused = !WriteFile(w, "[VER]\n99\n", 9, &written, nullptr);
            CloseHandle(w);
        }
        renameRefused = !MoveFileExW(full.c_str(), (full + L".moved").c_str(), 0);
    };
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.path().c_str()));
    TrustedList list(L"list.js", verifier);
    bool loaded = list.LoadLocked();
    SetCurrentDirectoryW(previous);

    EXPECT_TRUE(loaded);
    EXPECT_TRUE(writeRefused);
    EXPECT_TRUE(renameRefused);
    EXPECT_EQ(9u, list.Version());
    ASSERT_EQ(1u, verifier->seen.size());
    EXPECT_EQ(folder.file(L"list.js"), verifier->seen[0]);
}

TEST(TrustedListLoad, ReloadReadsTheNewFile)
{
    TestSupport::ScratchFolder folder;
    auto verifier = std::make_shared<TestListVerifier>();
    TrustedList list(folder.write(L"list.js", listText("8", {kRootA})), verifier);
    ASSERT_TRUE(list.LoadLocked());
    folder.write(L"list.js", listText("10", {}));
    EXPECT_TRUE(list.LoadLocked()); // already loaded: no new read
    EXPECT_EQ(8u, list.Version());
    EXPECT_TRUE(list.Reload());
    EXPECT_EQ(10u, list.Version());
    folder.write(L"list.js", "[VER]\n1\n2\n");
    EXPECT_FALSE(list.Reload());
    EXPECT_FALSE(list.IsLoaded());
}

// The list file is held as a library is for its check: the folders on the way
// to it cannot be renamed while it is verified, neither when it is loaded nor
// when an install reads the file it would replace.
TEST(TrustedListLoad, TheWayToTheListDoesNotMoveWhileItIsVerified)
{
    TestSupport::ScratchFolder base;
    const std::wstring folder = base.file(L"Core");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    base.write(L"Core\\trusted.js", listText("8", {kRootA}));
    const std::wstring candidate = base.write(L"candidate.js", listText("9", {}));
    auto verifier = std::make_shared<TestListVerifier>();
    int verified = 0, moved = 0;
    verifier->during = [&](const std::wstring&, HANDLE) {
        ++verified;
        if (MoveFileExW(folder.c_str(), (folder + L"-away").c_str(), 0)) {
            ++moved;
            MoveFileExW((folder + L"-away").c_str(), folder.c_str(), 0);
        }
    };
    TrustedList list(folder + L"\\trusted.js", verifier);
    const std::wstring atom = TestSupport::uniqueName(L"list-atom");
    EXPECT_TRUE(list.LoadLocked());
    EXPECT_TRUE(list.Install(candidate, 9, atom));
    if (ATOM added = GlobalFindAtomW(atom.c_str()))
        GlobalDeleteAtom(added);
    EXPECT_EQ(9u, list.Version());
    EXPECT_GE(verified, 3) << "the loaded file, the file replaced and the copy put in its place";
    EXPECT_EQ(0, moved) << "a folder on the way to the list file was renamed while it was verified";
}

// The list file's signer comes from the verification of the held file, as
// its hash does: with its folder traded after it was opened, the file now at
// its path decides nothing. (The kit's signer stands in for the pinned one.)
struct ListSignerCase {
    const char* label;
    const wchar_t* held; // opened, then its folder traded for one holding the other file
    const wchar_t* nowAtPath;
    bool accepted;
};

class ListFileSigner : public ::testing::TestWithParam<ListSignerCase> {};

TEST_P(ListFileSigner, TheHeldFileDecides)
{
    const ListSignerCase& c = GetParam();
    TestSupport::ScratchFolder base;
    const std::wstring folder = base.file(L"Core");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring path = folder + L"\\trusted.js";
    ASSERT_TRUE(CopyFileW(kitFile(c.held).c_str(), path.c_str(), FALSE));
    Halvex::trust::FileHandle held(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    ASSERT_TRUE(MoveFileExW(folder.c_str(), (folder + L"-away").c_str(), 0));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(kitFile(c.nowAtPath).c_str(), path.c_str(), FALSE));
    const std::vector<BYTE> signer = kitThumbprint("signer");
    ASSERT_EQ(20u, signer.size());
    EXPECT_EQ(c.accepted, TrustVerifyListFileSigner(path.c_str(), held.get(), signer.data()));
}

INSTANTIATE_TEST_SUITE_P(
    Files, ListFileSigner,
    ::testing::Values(ListSignerCase{"StrangerHeldPinnedAtPath", L"sample-stranger.dll", L"sample-signed.dll", false},
                      ListSignerCase{"UnsignedHeldPinnedAtPath", L"sample-unsigned.dll", L"sample-signed.dll", false},
                      ListSignerCase{"TwoSignersHeldPinnedAtPath", L"sample-two-signers.dll", L"sample-signed.dll",
                                     false},
                      ListSignerCase{"PinnedHeldStrangerAtPath", L"sample-signed.dll", L"sample-stranger.dll", true}),
    [](const ::testing::TestParamInfo<ListSignerCase>& info) { return std::string(info.param.label); });

TEST(TrustedListDefaultPath, UnderTheWindowsDrive)
{
    std::wstring path = TrustedListDefaultPath();
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_EQ(std::wstring(windows).substr(0, 3) + L"Program Files\\Common Files\\Corvane\\Platform\\Core\\trusted.js",
              path);
}

struct InstallCase {
    const char* label;
    const char* installed; // version on disk before, or "" for no file
    const char* candidate;
    bool result;
};

class ListInstall : public ::testing::TestWithParam<InstallCase> {};

TEST_P(ListInstall, OnlyANewerListReplaces)
{
    const InstallCase& c = GetParam();
    GlobalListScope scope;
    if (*c.installed) {
        scope.writeList(listText(c.installed, {kRootA}));
        ASSERT_TRUE(TrustGlobalList().LoadLocked());
    }
    std::wstring candidate = scope.writeCandidate(L"candidate.js", listText(c.candidate, {}));
    EXPECT_EQ(c.result ? 1 : 0, TrustedListUpdateFrom(candidate.c_str()));
    EXPECT_EQ(c.result, scope.atomExists());
    std::string expected = c.result ? listText(c.candidate, {}) : *c.installed ? listText(c.installed, {kRootA}) : "";
    EXPECT_EQ(expected, scope.installedText());
    if (c.result) {
        EXPECT_EQ(static_cast<DWORD>(std::stoul(c.candidate)), TrustGlobalList().Version());
    }
    EXPECT_FALSE(PathFileExistsW(scope.folder().file(L"Core\\trusted.tmp").c_str()));
}

INSTANTIATE_TEST_SUITE_P(
    Versions, ListInstall,
    ::testing::Values(InstallCase{"NewerReplaces", "8", "9", true}, InstallCase{"SameDoesNot", "8", "8", false},
                      InstallCase{"OlderDoesNot", "9", "8", false},
                      InstallCase{"NotNewerThanBuiltIn", "", "7", false},
                      InstallCase{"FirstListMovedIntoPlace", "", "8", true}),
    [](const ::testing::TestParamInfo<InstallCase>& info) { return std::string(info.param.label); });

// Another process installed a newer list after this one loaded its own: an
// older candidate must not undo that.
TEST(ListInstallAcrossProcesses, NewerFileOnDiskIsKept)
{
    GlobalListScope scope;
    scope.writeList(listText("8", {kRootA}));
    ASSERT_TRUE(TrustGlobalList().LoadLocked());
    scope.writeList(listText("10", {}));
    std::wstring candidate = scope.writeCandidate(L"candidate.js", listText("9", {}));
    EXPECT_EQ(0, TrustedListUpdateFrom(candidate.c_str()));
    EXPECT_EQ(listText("10", {}), scope.installedText());
}

TEST(ListInstallRefused, UnsignedOrMissingCandidate)
{
    GlobalListScope scope;
    std::wstring candidate = scope.writeCandidate(L"candidate.js", listText("12", {}, false));
    EXPECT_EQ(0, TrustedListUpdateFrom(candidate.c_str()));
    EXPECT_EQ(0, TrustedListUpdateFrom(scope.folder().file(L"none.js").c_str()));
    EXPECT_EQ(0, TrustedListUpdateFrom(nullptr));
    EXPECT_FALSE(PathFileExistsW(scope.listPath().c_str()));
    EXPECT_FALSE(scope.atomExists());
}

TEST(ListInstallAttributes, InstalledListIsAPlainFile)
{
    GlobalListScope scope;
    std::wstring candidate = scope.writeCandidate(L"candidate.js", listText("9", {}));
    SetFileAttributesW(candidate.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(1, TrustedListUpdateFrom(candidate.c_str()));
    DWORD attributes = GetFileAttributesW(scope.listPath().c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_EQ(0u, attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    SetFileAttributesW(candidate.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The cabinet update extracts to the temporary folder: whatever it finds, the
// folder holds none of its files afterwards.
class CabinetUpdate : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t previous[MAX_PATH] = {};
        DWORD n = GetEnvironmentVariableW(L"TMP", previous, MAX_PATH);
        m_previous = n > 0 && n < MAX_PATH ? previous : L"";
        m_temp = scope.folder().file(L"temp");
        CreateDirectoryW(m_temp.c_str(), nullptr);
        SetEnvironmentVariableW(L"TMP", m_temp.c_str());
    }
    void TearDown() override { SetEnvironmentVariableW(L"TMP", m_previous.empty() ? nullptr : m_previous.c_str()); }
    bool tempFolderEmpty() const
    {
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW((m_temp + L"\\*").c_str(), &data);
        bool empty = true;
        if (find != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = data.cFileName;
                if (name != L"." && name != L"..") {
                    ADD_FAILURE() << "left behind: " << TestSupport::narrow(name);
                    empty = false;
                }
            } while (FindNextFileW(find, &data));
            FindClose(find);
        }
        return empty;
    }

    GlobalListScope scope;
    std::wstring m_temp;
    std::wstring m_previous;
};

TEST_F(CabinetUpdate, CabinetWithoutListInstallsNothing)
{
    EXPECT_EQ(0, CabinetExtractTrustedList(kitFile(L"cabinet-unsigned-without-list.cab").c_str()));
    EXPECT_FALSE(PathFileExistsW(scope.listPath().c_str()));
    EXPECT_TRUE(tempFolderEmpty());
}

TEST_F(CabinetUpdate, CabinetWithNewerListInstallsIt)
{
    scope.writeList(listText("8", {kRootA}));
    ASSERT_TRUE(TrustGlobalList().LoadLocked());
    EXPECT_EQ(1, CabinetExtractTrustedList(kitFile(L"cabinet-unsigned-with-list.cab").c_str()));
    EXPECT_EQ(9u, TrustGlobalList().Version());
    EXPECT_EQ(TestSupport::ScratchFolder::read(kitFile(L"list-v9-both.js")), scope.installedText());
    EXPECT_TRUE(scope.atomExists());
    EXPECT_TRUE(tempFolderEmpty());
}

} // namespace
