#include "FileSystem/FileSystem.h"
#include "ScratchFolder.h"
#include "TestNames.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

using namespace Halvex;
using TestSupport::ScratchFolder;

namespace {

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void makeFile(const std::wstring& path, bool readOnly = false)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << TestSupport::narrow(path);
    DWORD written = 0;
    WriteFile(h, "x", 1, &written, nullptr);
    CloseHandle(h);
    if (readOnly) {
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    }
}

void makeFolder(const std::wstring& path, bool readOnly = false)
{
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << TestSupport::narrow(path);
    if (readOnly) {
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    }
}

std::wstring currentDirectory()
{
    wchar_t buffer[MAX_PATH * 4] = {};
    DWORD length = GetCurrentDirectoryW(MAX_PATH * 4, buffer);
    return std::wstring(buffer, length);
}

// The current folder moves into the scratch folder for the test; each test
// runs in a process of its own, but the folder must be left to be removed.
class InFolder {
public:
    explicit InFolder(const std::wstring& folder) : m_previous(currentDirectory())
    {
        SetCurrentDirectoryW(folder.c_str());
    }
    ~InFolder() { SetCurrentDirectoryW(m_previous.c_str()); }

private:
    std::wstring m_previous;
};

// A mount-point reparse point, laid out as the file system expects it: tag,
// data length, reserved, then offsets and lengths of the substitute and print
// names followed by both names, each NUL-terminated.
bool createJunction(const std::wstring& link, const std::wstring& target)
{
    if (!CreateDirectoryW(link.c_str(), nullptr))
        return false;
    const std::wstring substitute = L"\\??\\" + target;
    const std::wstring print = target;
    const USHORT substituteBytes = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
    const USHORT printBytes = static_cast<USHORT>(print.size() * sizeof(wchar_t));
    const USHORT pathBytes = static_cast<USHORT>(substituteBytes + printBytes + 2 * sizeof(wchar_t));
    std::vector<BYTE> buffer(8 + 8 + pathBytes, 0);
    auto put16 = [&](size_t at, USHORT v) { std::memcpy(&buffer[at], &v, 2); };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(&buffer[0], &tag, 4);
    put16(4, static_cast<USHORT>(8 + pathBytes));
    put16(8, 0);
    put16(10, substituteBytes);
    put16(12, static_cast<USHORT>(substituteBytes + sizeof(wchar_t)));
    put16(14, printBytes);
    std::memcpy(&buffer[16], substitute.data(), substituteBytes);
    std::memcpy(&buffer[16 + substituteBytes + sizeof(wchar_t)], print.data(), printBytes);

    HANDLE h = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        RemoveDirectoryW(link.c_str());
        return false;
    }
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()),
                                    nullptr, 0, &returned, nullptr);
    CloseHandle(h);
    if (!ok)
        RemoveDirectoryW(link.c_str());
    return ok != FALSE;
}

bool isLink(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

enum class LinkKind { DirectorySymlink, Junction, FileSymlink, HostDirectoryLink, HostFileLink };

bool isHostLink(LinkKind kind)
{
    return kind == LinkKind::HostDirectoryLink || kind == LinkKind::HostFileLink;
}

bool waitFor(const std::function<bool()>& condition)
{
    return TestSupport::waitUntil(condition);
}

// Wine's CreateSymbolicLinkW reports success and makes nothing, and setting a
// reparse point fails with ERROR_NOT_SUPPORTED; but Wine shows a symbolic link
// of the host's file system as a folder with FILE_ATTRIBUTE_REPARSE_POINT.
// Under Wine such links are made with the host's own programs, which Wine
// starts for a path on its Z: drive (the returned handle cannot be waited on,
// so the effect is polled for).
class HostLinks {
public:
    static bool available() { return wineUnixName() != nullptr && exists(L"Z:\\bin\\ln"); }

    static bool run(const std::wstring& program, const std::wstring& arguments)
    {
        std::wstring command = L"\"" + program + L"\" " + arguments;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW((L"Z:" + slashesToBackslashes(program)).c_str(), &command[0], nullptr, nullptr, FALSE,
                            0, nullptr, nullptr, &startup, &process))
            return false;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return true;
    }

    static std::wstring unixName(const std::wstring& path)
    {
        auto convert = wineUnixName();
        if (convert == nullptr)
            return {};
        char* name = convert(path.c_str());
        if (name == nullptr)
            return {};
        std::wstring out = TestSupport::widen(name);
        HeapFree(GetProcessHeap(), 0, name);
        return out;
    }

    static bool link(const std::wstring& link, const std::wstring& target)
    {
        const std::wstring from = unixName(target), to = unixName(link);
        if (from.empty() || to.empty() || !run(L"/bin/ln", L"-s \"" + from + L"\" \"" + to + L"\""))
            return false;
        return waitFor([&] { return exists(link); });
    }

    static bool remove(const std::wstring& link)
    {
        const std::wstring name = unixName(link);
        if (name.empty() || !run(L"/bin/rm", L"-f \"" + name + L"\""))
            return false;
        return waitFor([&] { return !exists(link); });
    }

private:
    using UnixNameFunction = char*(CDECL*)(const wchar_t*);

    static UnixNameFunction wineUnixName()
    {
        if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr)
            return nullptr;
        return reinterpret_cast<UnixNameFunction>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    }

    static std::wstring slashesToBackslashes(std::wstring path)
    {
        for (auto& c : path)
            if (c == L'/')
                c = L'\\';
        return path;
    }
};

// Removes a host link that the platform itself could not remove, so that the
// scratch folder can go.
class HostLinkCleanup {
public:
    explicit HostLinkCleanup(std::wstring link) : m_link(std::move(link)) {}
    ~HostLinkCleanup()
    {
        if (exists(m_link))
            HostLinks::remove(m_link);
    }

private:
    std::wstring m_link;
};

// Makes a link of the kind asked for; false when the platform cannot.
bool createLink(LinkKind kind, const std::wstring& link, const std::wstring& target)
{
    const DWORD unprivileged = 0x2; // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    switch (kind) {
    case LinkKind::DirectorySymlink:
        if (!CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY | unprivileged) &&
            !CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY))
            return false;
        break;
    case LinkKind::FileSymlink:
        if (!CreateSymbolicLinkW(link.c_str(), target.c_str(), unprivileged) &&
            !CreateSymbolicLinkW(link.c_str(), target.c_str(), 0))
            return false;
        break;
    case LinkKind::Junction:
        if (!createJunction(link, target))
            return false;
        break;
    case LinkKind::HostDirectoryLink:
    case LinkKind::HostFileLink:
        if (!HostLinks::available() || !HostLinks::link(link, target))
            return false;
        break;
    }
    return kind == LinkKind::HostFileLink ? exists(link) : isLink(link);
}

const char* kindName(LinkKind kind)
{
    switch (kind) {
    case LinkKind::DirectorySymlink:
        return "directory symbolic link";
    case LinkKind::Junction:
        return "junction";
    case LinkKind::FileSymlink:
        return "file symbolic link";
    case LinkKind::HostDirectoryLink:
        return "host file system's link to a folder";
    case LinkKind::HostFileLink:
        return "host file system's link to a file";
    }
    return "?";
}

void PrintTo(LinkKind kind, std::ostream* os)
{
    *os << kindName(kind);
}

// ---------------------------------------------------------------------------

TEST(FileSystemTest, ExistenceTestsTellFilesFromFolders)
{
    ScratchFolder scratch;
    const std::wstring file = scratch.file(L"file.txt");
    const std::wstring folder = scratch.file(L"folder");
    makeFile(file);
    makeFolder(folder);
    const std::wstring missing = scratch.file(L"missing");

    struct Case {
        const wchar_t* path;
        bool file, directory, regular;
    } const cases[] = {
        {nullptr, false, false, false},
        {L"", false, false, false},
        {file.c_str(), true, false, true},
        {folder.c_str(), false, true, false},
        {missing.c_str(), false, false, false},
    };
    for (const auto& c : cases) {
        const std::string label = c.path ? TestSupport::narrow(c.path) : "(null)";
        EXPECT_EQ(FileExists(c.path), c.file) << label;
        EXPECT_EQ(DirectoryExists(c.path), c.directory) << label;
        EXPECT_EQ(IsRegularFile(c.path), c.regular) << label;
    }
}

TEST(FileSystemTest, ModulePathOfTheProgramSplitsAtTheLastBackslash)
{
    wchar_t buffer[4096] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, 4096);
    ASSERT_GT(length, 0u);
    const std::wstring full(buffer, length);
    const size_t last = full.rfind(L'\\');
    ASSERT_NE(last, std::wstring::npos);

    std::wstring folder, name;
    ASSERT_TRUE(SplitModulePath(nullptr, folder, false, name));
    EXPECT_EQ(folder, full.substr(0, last));
    EXPECT_EQ(name, full.substr(last + 1));

    ASSERT_TRUE(SplitModulePath(nullptr, folder, true, name));
    EXPECT_EQ(folder, full.substr(0, last + 1));
    EXPECT_EQ(name, full.substr(last + 1));

    std::wstring host;
    ASSERT_TRUE(GetHostFolder(host, false));
    EXPECT_EQ(host, full.substr(0, last));
    ASSERT_TRUE(GetModuleFolder(GetModuleHandleW(nullptr), host, true));
    EXPECT_EQ(host, full.substr(0, last + 1));
}

TEST(FileSystemTest, ModuleAtAKnownPathSplitsIntoFolderAndName)
{
    std::wstring here;
    ASSERT_TRUE(GetHostFolder(here, true));
    const std::wstring probe = here + FS_PROBE_MODULE_NAME;
    ASSERT_TRUE(FileExists(probe.c_str()));

    ScratchFolder scratch;
    // Deep enough that the module's path is longer than MAX_PATH, so the name
    // buffer must grow.
    std::wstring folder = scratch.path();
    while (folder.size() < MAX_PATH + 20) {
        folder += L"\\level_of_some_length";
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << TestSupport::narrow(folder);
    }
    struct Case {
        std::wstring folder;
    } const cases[] = {{scratch.path()}, {folder}};
    for (const auto& c : cases) {
        const std::wstring copy = c.folder + L"\\file.dll";
        ASSERT_TRUE(CopyFileW(probe.c_str(), copy.c_str(), FALSE)) << GetLastError();
        HMODULE module = LoadLibraryExW(copy.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        ASSERT_NE(module, nullptr) << "load " << TestSupport::narrow(copy) << " error " << GetLastError();

        std::wstring split, name;
        EXPECT_TRUE(SplitModulePath(module, split, false, name));
        EXPECT_EQ(split, c.folder);
        EXPECT_EQ(name, L"file.dll");
        EXPECT_TRUE(SplitModulePath(module, split, true, name));
        EXPECT_EQ(split, c.folder + L"\\");
        EXPECT_EQ(name, L"file.dll");
        FreeLibrary(module);
    }
}

TEST(FileSystemTest, ModulePathThatCannotBeHadLeavesOutputsAlone)
{
    // An address that is no loaded module.
    HMODULE bogus = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x10));
    std::wstring folder = L"before", name = L"unchanged";
    EXPECT_FALSE(SplitModulePath(bogus, folder, true, name));
    EXPECT_EQ(folder, L"before");
    EXPECT_EQ(name, L"unchanged");
    EXPECT_FALSE(GetModuleFolder(bogus, folder, false));
    EXPECT_EQ(folder, L"before");
}

TEST(FileSystemTest, CurrentDirectoryStringFollowsTheCurrentFolder)
{
    ScratchFolder scratch;
    std::wstring text = L"stale";
    {
        InFolder in(scratch.path());
        GetCurrentDirectoryString(text);
        EXPECT_EQ(text, currentDirectory());
        EXPECT_TRUE(DirectoryExists(text.c_str()));
        EXPECT_EQ(CompareStringOrdinal(text.c_str(), -1, scratch.path().c_str(), -1, TRUE), CSTR_EQUAL)
            << TestSupport::narrow(text);
    }
}

// ---------------------------------------------------------------------------

TEST(FileSystemTest, CreateDirectoryTreeRefusesNoPath)
{
    DWORD error = 0;
    EXPECT_FALSE(CreateDirectoryTree(nullptr, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    error = 0;
    EXPECT_FALSE(CreateDirectoryTree(L"", &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(CreateDirectoryTree(nullptr, nullptr));
    EXPECT_EQ(CreateDirectoryPath(nullptr), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CreateDirectoryPath(L""), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(FileSystemTest, CreateDirectoryTreeMakesEveryFormOfPath)
{
    ScratchFolder scratch;
    InFolder in(scratch.path());
    const std::wstring root = scratch.path();
    // The current drive's root: a name of this test's own, removed afterwards.
    const std::wstring atRootName = TestSupport::uniqueName(L"rootdir");
    const std::wstring atRoot = root.substr(0, 2) + L"\\" + atRootName;

    struct Case {
        std::wstring given;   // as handed to CreateDirectoryTree
        std::wstring created; // the folder that must exist afterwards
    } const cases[] = {
        {root + L"\\one\\two\\three", root + L"\\one\\two\\three"},
        {root + L"\\slash\\end\\", root + L"\\slash\\end"},
        {L"\\\\?\\" + root + L"\\long\\form", root + L"\\long\\form"},
        {L"logs", root + L"\\logs"},
        {L"rel\\nested", root + L"\\rel\\nested"},
        {L"\\" + atRootName + L"\\inner", atRoot + L"\\inner"},
    };
    for (const auto& c : cases) {
        const std::string label = TestSupport::narrow(c.given);
        DWORD error = 12345;
        EXPECT_TRUE(CreateDirectoryTree(c.given.c_str(), &error)) << label;
        EXPECT_EQ(error, 0u) << label;
        EXPECT_TRUE(DirectoryExists(c.created.c_str())) << label;

        // A second time the folder is there: true with ERROR_ALREADY_EXISTS.
        error = 0;
        EXPECT_TRUE(CreateDirectoryTree(c.created.c_str(), &error)) << label;
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << label;
    }
    RemoveDirectoryW((atRoot + L"\\inner").c_str());
    RemoveDirectoryW(atRoot.c_str());
    EXPECT_FALSE(exists(atRoot));
}

TEST(FileSystemTest, CreateDirectoryPathCreatesOnlyWhatIsMissing)
{
    ScratchFolder scratch;
    const std::wstring top = scratch.file(L"a");
    EXPECT_EQ(CreateDirectoryPath((top + L"\\b\\c").c_str()), 0u);
    EXPECT_TRUE(DirectoryExists((top + L"\\b\\c").c_str()));
    // Existing parents are fine; an existing folder is success.
    EXPECT_EQ(CreateDirectoryPath((top + L"\\b\\d").c_str()), 0u);
    EXPECT_EQ(CreateDirectoryPath((top + L"\\b").c_str()), 0u);
    EXPECT_EQ(CreateDirectoryPath(scratch.path().substr(0, 3).c_str()), 0u);
}

TEST(FileSystemTest, CreateDirectoryPathWithoutBackslashIsNoSuccess)
{
    ScratchFolder scratch;
    InFolder in(scratch.path());
    const std::wstring name = TestSupport::uniqueName(L"bare");
    // Nothing is created, so this must not be reported as success.
    EXPECT_NE(CreateDirectoryPath(name.c_str()), 0u);
    EXPECT_FALSE(exists(scratch.file(name)));
    EXPECT_NE(CreateDirectoryPath((L"\\\\?\\" + name).c_str()), 0u);
}

TEST(FileSystemTest, FileWhereAFolderIsWantedFails)
{
    ScratchFolder scratch;
    const std::wstring file = scratch.file(L"blocker");
    makeFile(file);

    struct Case {
        std::wstring path;
    } const cases[] = {
        {file},                         // the folder itself is a file
        {file + L"\\below"},            // its parent is a file
        {file + L"\\below\\and\\more"}, // an ancestor is a file
    };
    for (const auto& c : cases) {
        const std::string label = TestSupport::narrow(c.path);
        DWORD error = 0;
        EXPECT_FALSE(CreateDirectoryTree(c.path.c_str(), &error)) << label;
        EXPECT_NE(error, 0u) << label;
        // CreateDirectoryW's own answer for the file that stands in the way.
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << label;
        EXPECT_NE(CreateDirectoryPath(c.path.c_str()), 0u) << label;
    }
    EXPECT_TRUE(FileExists(file.c_str()));
}

// ---------------------------------------------------------------------------

TEST(FileSystemTest, DeleteFilesByPatternRefusesBadPatterns)
{
    ScratchFolder scratch;
    InFolder in(scratch.path());
    makeFile(scratch.file(L"keep.log"));
    const std::wstring trailing = scratch.path() + L"\\";
    const wchar_t* const patterns[] = {nullptr, L"", L".", L"..", L"*.log", trailing.c_str()};
    for (const wchar_t* pattern : patterns) {
        EXPECT_FALSE(DeleteFilesByPattern(pattern, true)) << (pattern ? TestSupport::narrow(pattern) : "(null)");
        EXPECT_FALSE(DeleteFilesByPattern(pattern, false));
    }
    EXPECT_TRUE(FileExists(scratch.file(L"keep.log").c_str()));
}

TEST(FileSystemTest, DeleteFilesByPatternDeletesMatchingFilesOnly)
{
    ScratchFolder scratch;
    makeFile(scratch.file(L"a.log"));
    makeFile(scratch.file(L"B.LOG"), true);
    makeFile(scratch.file(L"long name of a file.log"));
    makeFile(scratch.file(L"a.logx"));           // short name A~1.LOG
    makeFile(scratch.file(L"verylongname.log1")); // short name VERYLO~1.LOG
    makeFile(scratch.file(L"a.txt"));
    makeFolder(scratch.file(L"sub.log"));
    makeFile(scratch.file(L"sub.log\\inner.log"));

    EXPECT_TRUE(DeleteFilesByPattern(scratch.file(L"*.log").c_str(), false));
    EXPECT_FALSE(exists(scratch.file(L"a.log")));
    EXPECT_FALSE(exists(scratch.file(L"B.LOG")));
    EXPECT_FALSE(exists(scratch.file(L"long name of a file.log")));
    EXPECT_TRUE(exists(scratch.file(L"a.logx")));
    EXPECT_TRUE(exists(scratch.file(L"verylongname.log1")));
    EXPECT_TRUE(exists(scratch.file(L"a.txt")));
    EXPECT_TRUE(exists(scratch.file(L"sub.log\\inner.log")));

    // Recursive: the matching folder goes as a whole tree.
    EXPECT_TRUE(DeleteFilesByPattern(scratch.file(L"*.log").c_str(), true));
    EXPECT_FALSE(exists(scratch.file(L"sub.log")));
    EXPECT_TRUE(exists(scratch.file(L"a.logx")));

    // Nothing left that matches.
    EXPECT_FALSE(DeleteFilesByPattern(scratch.file(L"*.log").c_str(), true));
    EXPECT_FALSE(DeleteFilesByPattern(scratch.file(L"none*").c_str(), true));
}

TEST(FileSystemTest, DeleteFilesByPatternShortNameOnlyMatchIsNoMatch)
{
    ScratchFolder scratch;
    makeFile(scratch.file(L"report.logx"));
    EXPECT_FALSE(DeleteFilesByPattern(scratch.file(L"*.log").c_str(), true));
    EXPECT_TRUE(exists(scratch.file(L"report.logx")));
}

TEST(FileSystemTest, StarDotStarMatchesNamesWithoutADot)
{
    ScratchFolder scratch;
    makeFile(scratch.file(L"README"));
    makeFile(scratch.file(L"x.y.z"));
    makeFolder(scratch.file(L"plain"));
    EXPECT_TRUE(DeleteFilesByPattern(scratch.file(L"*.*").c_str(), false));
    EXPECT_FALSE(exists(scratch.file(L"README")));
    EXPECT_FALSE(exists(scratch.file(L"x.y.z")));
    EXPECT_TRUE(DirectoryExists(scratch.file(L"plain").c_str()));
}

TEST(FileSystemTest, LockedFileFailsButEverythingElseGoes)
{
    ScratchFolder scratch;
    makeFile(scratch.file(L"1.log"));
    makeFile(scratch.file(L"2.log"));
    makeFile(scratch.file(L"3.log"));
    HANDLE locked = CreateFileW(scratch.file(L"2.log").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteFilesByPattern(scratch.file(L"*.log").c_str(), false));
    EXPECT_FALSE(exists(scratch.file(L"1.log")));
    EXPECT_TRUE(exists(scratch.file(L"2.log")));
    EXPECT_FALSE(exists(scratch.file(L"3.log")));
    CloseHandle(locked);
}

// ---------------------------------------------------------------------------

TEST(FileSystemTest, RemoveDirectoryTreeRemovesNestedReadOnlyTree)
{
    ScratchFolder scratch;
    const std::wstring top = scratch.file(L"tree");
    makeFolder(top);
    makeFile(top + L"\\a.txt", true);
    makeFile(top + L"\\README");
    makeFolder(top + L"\\sub");
    makeFile(top + L"\\sub\\b.bin", true);
    makeFolder(top + L"\\sub\\deeper");
    makeFile(top + L"\\sub\\deeper\\c");
    makeFolder(top + L"\\sub\\empty", true);
    ASSERT_TRUE(SetFileAttributesW(top.c_str(), FILE_ATTRIBUTE_READONLY));

    EXPECT_TRUE(RemoveDirectoryTree(top.c_str()));
    EXPECT_FALSE(exists(top));
    EXPECT_TRUE(DirectoryExists(scratch.path().c_str()));
}

TEST(FileSystemTest, RemoveDirectoryTreeRefusesWhatIsNoFolder)
{
    ScratchFolder scratch;
    InFolder in(scratch.path());
    makeFile(scratch.file(L"file"));
    const std::wstring file = scratch.file(L"file");
    const std::wstring missing = scratch.file(L"missing");
    const wchar_t* const paths[] = {nullptr, L"", L".", L"..", file.c_str(), missing.c_str()};
    for (const wchar_t* path : paths)
        EXPECT_FALSE(RemoveDirectoryTree(path)) << (path ? TestSupport::narrow(path) : "(null)");
    EXPECT_TRUE(FileExists(file.c_str()));
    EXPECT_TRUE(DirectoryExists(scratch.path().c_str()));
}

TEST(FileSystemTest, RemoveDirectoryTreeWithLockedFileKeepsTheFolder)
{
    ScratchFolder scratch;
    const std::wstring top = scratch.file(L"tree");
    makeFolder(top);
    makeFile(top + L"\\free");
    makeFolder(top + L"\\sub");
    makeFile(top + L"\\sub\\held");
    makeFile(top + L"\\sub\\other");
    HANDLE locked = CreateFileW((top + L"\\sub\\held").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(RemoveDirectoryTree(top.c_str()));
    EXPECT_TRUE(DirectoryExists((top + L"\\sub").c_str()));
    EXPECT_TRUE(exists(top + L"\\sub\\held"));
    EXPECT_FALSE(exists(top + L"\\sub\\other"));
    EXPECT_FALSE(exists(top + L"\\free"));
    CloseHandle(locked);
    EXPECT_TRUE(RemoveDirectoryTree(top.c_str()));
}

class LinkInTreeTest : public ::testing::TestWithParam<LinkKind> {
protected:
    bool isFileLink() const { return GetParam() == LinkKind::FileSymlink || GetParam() == LinkKind::HostFileLink; }
};

TEST_P(LinkInTreeTest, RemovingTheTreeRemovesTheLinkNotItsTarget)
{
    ScratchFolder scratch;
    const std::wstring outside = scratch.file(L"outside");
    makeFolder(outside);
    makeFile(outside + L"\\precious.txt", true);
    makeFolder(outside + L"\\nested");
    makeFile(outside + L"\\nested\\also.txt");

    const std::wstring tree = scratch.file(L"tree");
    makeFolder(tree);
    makeFile(tree + L"\\own.txt");
    makeFolder(tree + L"\\sub");
    makeFile(tree + L"\\sub\\own.txt");
    const std::wstring link = tree + (isFileLink() ? L"\\sub\\link.txt" : L"\\sub\\link");
    const std::wstring target = isFileLink() ? outside + L"\\precious.txt" : outside;
    HostLinkCleanup cleanup(link);
    if (!createLink(GetParam(), link, target))
        GTEST_SKIP() << "this platform cannot make a " << kindName(GetParam());

    const bool removed = RemoveDirectoryTree(tree.c_str());

    // Whatever else happens, nothing outside the tree is touched.
    EXPECT_TRUE(FileExists((outside + L"\\precious.txt").c_str()));
    EXPECT_TRUE(GetFileAttributesW((outside + L"\\precious.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(FileExists((outside + L"\\nested\\also.txt").c_str()));
    EXPECT_FALSE(exists(tree + L"\\own.txt"));
    EXPECT_FALSE(exists(tree + L"\\sub\\own.txt"));
    if (!isHostLink(GetParam()) || removed) {
        EXPECT_TRUE(removed);
        EXPECT_FALSE(exists(tree));
    } else {
        // Wine cannot remove a host link to a folder: the link stays, alone,
        // and the failure is reported.
        EXPECT_TRUE(exists(link));
    }
}

TEST_P(LinkInTreeTest, RemovingTheLinkItselfLeavesTheTarget)
{
    if (isFileLink())
        GTEST_SKIP() << "a link to a file is no folder tree";
    ScratchFolder scratch;
    const std::wstring outside = scratch.file(L"outside");
    makeFolder(outside);
    makeFile(outside + L"\\precious.txt");
    const std::wstring link = scratch.file(L"link");
    HostLinkCleanup cleanup(link);
    if (!createLink(GetParam(), link, outside))
        GTEST_SKIP() << "this platform cannot make a " << kindName(GetParam());

    const bool removed = RemoveDirectoryTree(link.c_str());
    EXPECT_TRUE(FileExists((outside + L"\\precious.txt").c_str()));
    if (!isHostLink(GetParam()) || removed) {
        EXPECT_TRUE(removed);
        EXPECT_FALSE(exists(link));
        ASSERT_TRUE(createLink(GetParam(), link, outside));
    } else {
        EXPECT_TRUE(exists(link));
    }

    // And by pattern, recursively.
    const bool deleted = DeleteFilesByPattern(scratch.file(L"li*").c_str(), true);
    EXPECT_TRUE(FileExists((outside + L"\\precious.txt").c_str()));
    if (!isHostLink(GetParam())) {
        EXPECT_TRUE(deleted);
    }
    EXPECT_EQ(deleted, !exists(link));
}

INSTANTIATE_TEST_SUITE_P(Links, LinkInTreeTest,
                         ::testing::Values(LinkKind::DirectorySymlink, LinkKind::Junction, LinkKind::FileSymlink,
                                           LinkKind::HostDirectoryLink, LinkKind::HostFileLink),
                         [](const ::testing::TestParamInfo<LinkKind>& info) {
                             switch (info.param) {
                             case LinkKind::DirectorySymlink:
                                 return std::string("DirectorySymlink");
                             case LinkKind::Junction:
                                 return std::string("Junction");
                             case LinkKind::FileSymlink:
                                 return std::string("FileSymlink");
                             case LinkKind::HostDirectoryLink:
                                 return std::string("HostDirectoryLink");
                             case LinkKind::HostFileLink:
                                 return std::string("HostFileLink");
                             }
                             return std::string("Unknown");
                         });

} // namespace
