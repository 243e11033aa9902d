#include "paths/PathSearch.h"

#include "LogFile.h"
#include "ScratchFolder.h"
#include "TestNames.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <iterator>
#include <set>
#include <string>
#include <vector>

using Ostrand::PathAPI;
using Ostrand::PathSearch;
using TestSupport::LogFile;
using TestSupport::LogLine;
using TestSupport::LogQuery;
using TestSupport::ScratchFolder;

namespace {

// A file system of listed files; records every existence test it answers.
class FakePathAPI : public PathAPI {
public:
    explicit FakePathAPI(std::set<std::wstring> files) : m_files(std::move(files)) {}

    bool fileExists(const wchar_t* path) override
    {
        asked.emplace_back(path ? path : L"<null>");
        return path && m_files.count(path) != 0;
    }

    std::vector<std::wstring> asked;

private:
    std::set<std::wstring> m_files;
};

class AlwaysThere : public PathSearch {
public:
    using PathSearch::PathSearch;
    bool checkIfExists(const std::wstring&) override { return true; }
};

class InFolder {
public:
    explicit InFolder(const std::wstring& folder)
    {
        wchar_t previous[MAX_PATH * 4] = {};
        const DWORD length = GetCurrentDirectoryW(MAX_PATH * 4, previous);
        m_previous.assign(previous, length);
        SetCurrentDirectoryW(folder.c_str());
    }
    ~InFolder() { SetCurrentDirectoryW(m_previous.c_str()); }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

private:
    std::wstring m_previous;
};

} // namespace

TEST(PathSearch, KeepsFoldersInInsertionOrderUnchanged)
{
    PathSearch search;
    search.addPath(L"C:\\one");
    search.addPaths({L"C:\\two\\", L"", L"C:\\one"});
    search.addPath(std::wstring(L"$(App.Folder)"));
    search.addPath(static_cast<const wchar_t*>(nullptr));
    const std::vector<std::wstring> expected = {L"C:\\one", L"C:\\two\\", L"", L"C:\\one", L"$(App.Folder)"};
    EXPECT_EQ(expected, search.getPaths());
}

TEST(PathSearch, FirstFolderHoldingTheFileWinsThroughTheInjectedFileSystem)
{
    auto files = std::make_shared<FakePathAPI>(std::set<std::wstring>{
        L"C:\\second\\\\lib.dll", L"C:\\third\\lib.dll", L"D:\\fourth\\lib.dll"});
    PathSearch search(files);
    search.addPaths({L"C:\\first", L"C:\\second\\", L"C:\\third", L"D:\\fourth"});

    std::wstring folder = L"untouched";
    ASSERT_TRUE(search.findFilePath(L"lib.dll", folder));
    EXPECT_EQ(L"C:\\second", folder) << "one final backslash removed";
    const std::vector<std::wstring> asked = {L"C:\\first\\lib.dll", L"C:\\second\\\\lib.dll"};
    EXPECT_EQ(asked, files->asked) << "tested in order, stopping at the first hit";

    folder = L"untouched";
    EXPECT_FALSE(search.findFilePath(L"other.dll", folder));
    EXPECT_EQ(L"untouched", folder);
}

TEST(PathSearch, MissesLeaveTheFolderUntouched)
{
    ScratchFolder scratch;
    CreateDirectoryW(scratch.file(L"lib.dll").c_str(), nullptr);
    struct Case {
        const char* what;
        std::vector<std::wstring> folders;
    };
    const Case cases[] = {
        {"no folders at all", {}},
        {"a folder that does not exist", {scratch.file(L"missing")}},
        {"a sub-folder named like the file", {scratch.path()}},
    };
    for (const Case& c : cases) {
        PathSearch search;
        search.addPaths(c.folders);
        std::wstring folder = L"untouched";
        EXPECT_FALSE(search.findFilePath(L"lib.dll", folder)) << c.what;
        EXPECT_EQ(L"untouched", folder) << c.what;
    }
}

TEST(PathSearch, FindsARealFile)
{
    ScratchFolder first;
    ScratchFolder second;
    second.write(L"lib.dll", "MZ");
    PathSearch search;
    search.addPaths({first.path(), second.path() + L"\\"});
    std::wstring folder;
    ASSERT_TRUE(search.findFilePath(L"lib.dll", folder));
    EXPECT_EQ(second.path(), folder);
}

// A folder that stayed empty or kept its placeholder would otherwise be
// searched relative to the current folder, where anyone may have put the file.
TEST(PathSearch, NeverSearchesRelativeToTheCurrentFolder)
{
    ScratchFolder planted;
    planted.write(L"lib.dll", "MZ");
    CreateDirectoryW(planted.file(L"$(App.Folder)").c_str(), nullptr);
    planted.write(L"$(App.Folder)\\lib.dll", "MZ");
    CreateDirectoryW(planted.file(L"sub").c_str(), nullptr);
    planted.write(L"sub\\lib.dll", "MZ");
    const std::wstring drive = planted.path().substr(0, 2); // "C:"
    const std::wstring rootRelative = planted.path().substr(2);

    const std::vector<std::wstring> unsafe = {
        L"", L".", L"sub", L"$(App.Folder)", L"$(Strova.InstallDir)", drive, drive + L"sub", rootRelative,
        L"\\", std::wstring(L"C:\\\0x", 4),
    };
    InFolder here(planted.path());
    for (const std::wstring& folder : unsafe) {
        auto files = std::make_shared<FakePathAPI>(std::set<std::wstring>{});
        AlwaysThere search(files);
        search.addPath(folder);
        std::wstring found = L"untouched";
        EXPECT_FALSE(search.findFilePath(L"lib.dll", found)) << TestSupport::narrow(folder);
        EXPECT_EQ(L"untouched", found);

        PathSearch real;
        real.addPath(folder);
        EXPECT_FALSE(real.findFilePath(L"lib.dll", found)) << TestSupport::narrow(folder);
    }

    PathSearch search;
    search.addPaths({L"", L"$(App.Folder)", planted.path()});
    std::wstring found;
    ASSERT_TRUE(search.findFilePath(L"lib.dll", found));
    EXPECT_EQ(planted.path(), found) << "the absolute folder after the skipped ones";
}

TEST(PathSearch, OverriddenExistenceTestDecidesWithoutTheFileSystem)
{
    auto files = std::make_shared<FakePathAPI>(std::set<std::wstring>{L"C:\\b\\x.dll"});
    AlwaysThere search(files);
    search.addPaths({L"C:\\a\\", L"C:\\b"});
    std::wstring folder;
    ASSERT_TRUE(search.findFilePath(L"x.dll", folder));
    EXPECT_EQ(L"C:\\a", folder);
    EXPECT_TRUE(files->asked.empty());
}

// Only a plain file name is looked for: even where every path "exists", a
// name that would leave the folder or name the file another way is refused.
TEST(PathSearch, RefusesAnythingButAPlainFileName)
{
    LogFile log;
    ASSERT_TRUE(log.ready());
    AlwaysThere search;
    search.addPath(L"C:\\a");
    for (const wchar_t* name : {L"..\\x.dll", L"sub\\x.dll", L"x.dll.", L"x.dll ", L"x.dll:s", L"C:x.dll", L""}) {
        std::wstring folder = L"untouched";
        EXPECT_FALSE(search.findFilePath(name, folder)) << TestSupport::narrow(name);
        EXPECT_EQ(L"untouched", folder);
        EXPECT_TRUE(log.contains(4, std::wstring(L"Refusing file name \"") + name + L"\": not a plain file name."))
            << TestSupport::narrow(name);
    }
    std::wstring folder;
    EXPECT_TRUE(search.findFilePath(L"x.dll", folder));
}

TEST(PathSearch, UncFoldersAreSearched)
{
    auto files = std::make_shared<FakePathAPI>(std::set<std::wstring>{L"\\\\server\\share\\x.dll"});
    PathSearch search(files);
    search.addPath(L"\\\\server\\share");
    std::wstring folder;
    ASSERT_TRUE(search.findFilePath(L"x.dll", folder));
    EXPECT_EQ(L"\\\\server\\share", folder);
}

TEST(PathSearch, LogsEachStep)
{
    LogFile log;
    ASSERT_TRUE(log.ready());
    auto files = std::make_shared<FakePathAPI>(std::set<std::wstring>{L"C:\\b\\\\lib.dll"});
    PathSearch search(files);
    std::wstring folder;
    EXPECT_FALSE(search.findFilePath(L"lib.dll", folder));
    search.addPaths({L"", L"C:\\a", L"C:\\b\\"});
    EXPECT_TRUE(search.findFilePath(L"lib.dll", folder));

    struct Expected {
        uint32_t level;
        const wchar_t* function;
        const wchar_t* text;
    };
    const Expected expected[] = {
        {1, L"Ostrand::PathSearch::findFilePath", L"Entering findFilePath for file lib.dll"},
        {2, L"Ostrand::PathSearch::findFilePath", L"File not found."},
        {1, L"Ostrand::PathSearch::findFilePath", L"Entering findFilePath for file lib.dll"},
        {2, L"Ostrand::PathSearch::findFilePath", L"Skipping search folder \"\": not an absolute path."},
        {1, L"Ostrand::PathSearch::checkIfExists", L"Entering checkIfExists for C:\\a\\lib.dll"},
        {2, L"Ostrand::PathSearch::checkIfExists", L"File does not exist."},
        {1, L"Ostrand::PathSearch::checkIfExists", L"Entering checkIfExists for C:\\b\\\\lib.dll"},
        {1, L"Ostrand::PathSearch::checkIfExists", L"File exists"},
        {1, L"Ostrand::PathSearch::findFilePath", L"File found at path C:\\b. Returning success."},
    };
    LogQuery query;
    query.file = L"PathSearch";
    const std::vector<LogLine> lines = log.find(query);
    ASSERT_EQ(std::size(expected), lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(LogFile::levelName(expected[i].level), lines[i].level) << i;
        EXPECT_EQ(expected[i].function, lines[i].function) << i;
        EXPECT_EQ(expected[i].text, lines[i].text) << i;
    }
}
