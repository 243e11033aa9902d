#include "wrappers/PathAPI.h"

#include "ScratchFolder.h"
#include "TestNames.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

using Ostrand::PathAPI;
using TestSupport::ScratchFolder;

namespace {

const std::wstring kStale = L"stale text that is much longer than anything read here";

// The far end of a named pipe that lets one client connect and then drops it:
// a read or write on the client's handle then fails after a successful open,
// whether it was issued before the drop or after it.
// Wine neither lets a read-only attribute stop root nor a byte-range lock stop
// another handle of the same process, so a pipe is the failure to be had here.
class DroppingPipe {
public:
    DroppingPipe()
        : m_name(L"\\\\.\\pipe\\" + TestSupport::uniqueName(L"pipe")),
          m_pipe(CreateNamedPipeW(m_name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr))
    {
        EXPECT_NE(INVALID_HANDLE_VALUE, m_pipe);
        m_thread = std::thread([this] {
            ConnectNamedPipe(m_pipe, nullptr);
            DisconnectNamedPipe(m_pipe);
        });
    }
    ~DroppingPipe()
    {
        m_thread.join();
        CloseHandle(m_pipe);
    }
    DroppingPipe(const DroppingPipe&) = delete;
    DroppingPipe& operator=(const DroppingPipe&) = delete;

    const std::wstring& name() const { return m_name; }

private:
    std::wstring m_name;
    HANDLE m_pipe;
    std::thread m_thread;
};

} // namespace

TEST(PathAPIFile, ReadGivesExactlyTheFileText)
{
    struct Case {
        const char* what;
        std::string bytes;
        std::wstring text;
    };
    const Case cases[] = {
        {"empty file", "", L""},
        {"plain text", "abc", L"abc"},
        {"CR LF read as LF", "one\r\ntwo\r\n", L"one\ntwo\n"},
        {"lone CR kept, also at the end", "a\rb\r", L"a\rb\r"},
        {"CR CR LF", "a\r\r\nb", L"a\r\nb"},
        {"one character per byte", std::string("\xE9\x01\x80\xFF", 4), std::wstring(L"\x00E9\x0001\x0080\x00FF")},
        {"Ctrl-Z and NUL do not end the text", std::string("a\x1A" "b\0c", 5), std::wstring(L"a\x001A" L"b\0c", 5)},
        {"CR LF across a read boundary", std::string(4095, 'x') + "\r\nz", std::wstring(4095, L'x') + L"\nz"},
    };
    ScratchFolder folder;
    PathAPI api;
    for (const Case& c : cases) {
        const std::wstring path = folder.write(L"read.txt", c.bytes);
        std::wstring text = kStale;
        ASSERT_TRUE(api.readFile(path, text)) << c.what;
        EXPECT_EQ(c.text, text) << c.what;
    }
}

TEST(PathAPIFile, FailedReadLeavesTheTextAsItWas)
{
    ScratchFolder folder;
    const std::wstring locked = folder.write(L"locked.txt", "secret");
    CreateDirectoryW(folder.file(L"sub").c_str(), nullptr);
    PathAPI api;
    const std::wstring paths[] = {
        folder.file(L"missing.txt"),
        folder.file(L"sub"),
        L"",
        std::wstring(locked.c_str(), locked.size()) + std::wstring(L"\0x", 2),
    };
    for (const std::wstring& path : paths) {
        std::wstring text = kStale;
        EXPECT_FALSE(api.readFile(path, text)) << TestSupport::narrow(path);
        EXPECT_EQ(kStale, text);
    }

    DroppingPipe pipe;
    std::wstring text = kStale;
    EXPECT_FALSE(api.readFile(pipe.name(), text)) << "a read that fails after the open is no success";
    EXPECT_EQ(kStale, text);
}

TEST(PathAPIFile, WriteStoresTheTextUpToItsFirstNul)
{
    struct Case {
        const char* what;
        std::wstring text;
        std::string bytes;
    };
    const Case cases[] = {
        {"plain text", L"abc", "abc"},
        {"LF written as CR LF", L"one\ntwo\n", "one\r\ntwo\r\n"},
        {"one byte per character", std::wstring(L"\x00E9\x00FF"), std::string("\xE9\xFF", 2)},
        {"NUL ends the text", std::wstring(L"ab\0cd", 5), "ab"},
        {"empty text truncates", L"", ""},
    };
    ScratchFolder folder;
    const std::wstring path = folder.write(L"write.txt", "earlier contents, longer than every case");
    PathAPI api;
    for (const Case& c : cases) {
        ASSERT_TRUE(api.writeFile(path, c.text)) << c.what;
        EXPECT_EQ(c.bytes, ScratchFolder::read(path)) << c.what;
        std::wstring back;
        ASSERT_TRUE(api.readFile(path, back));
        EXPECT_EQ(c.text.substr(0, c.text.find(L'\0')), back) << c.what;
    }
}

TEST(PathAPIFile, FailedWriteIsReportedAndKeepsTheFile)
{
    ScratchFolder folder;
    const std::wstring existing = folder.write(L"keep.txt", "kept");
    PathAPI api;

    EXPECT_FALSE(api.writeFile(existing, L"wide \x263A text")) << "not one byte per character";
    EXPECT_EQ("kept", ScratchFolder::read(existing));

    EXPECT_FALSE(api.writeFile(folder.file(L"no\\such\\folder.txt"), L"x"));
    EXPECT_FALSE(api.writeFile(L"", L"x"));

    HANDLE exclusive = CreateFileW(existing.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, exclusive);
    EXPECT_FALSE(api.writeFile(existing, L"x")) << "held without sharing";
    CloseHandle(exclusive);
    EXPECT_EQ("kept", ScratchFolder::read(existing));

    DroppingPipe pipe;
    EXPECT_FALSE(api.writeFile(pipe.name(), std::wstring(1 << 20, L'w'))) << "a write that fails after the open";
}

TEST(PathAPIFile, FileSystemCallsReachTheirOwnFunctions)
{
    ScratchFolder folder;
    PathAPI api;
    const std::wstring file = folder.write(L"a.txt", "a");
    const std::wstring tree = folder.file(L"x\\y\\z");

    EXPECT_TRUE(api.fileExists(file.c_str()));
    EXPECT_FALSE(api.fileExists(folder.path().c_str()));
    EXPECT_FALSE(api.fileExists(nullptr));
    EXPECT_FALSE(api.fileExists(L""));
    EXPECT_TRUE(api.directoryExists(folder.path().c_str()));
    EXPECT_FALSE(api.directoryExists(file.c_str()));
    EXPECT_TRUE(api.isRegularFile(file.c_str()));

    ASSERT_TRUE(api.createDirectories(tree.c_str()));
    EXPECT_TRUE(api.directoryExists(tree.c_str()));
    EXPECT_TRUE(api.removeDirectory(folder.file(L"x").c_str()));
    EXPECT_FALSE(api.directoryExists(folder.file(L"x").c_str()));

    ASSERT_TRUE(api.moveFile(file.c_str(), folder.file(L"b.txt").c_str()));
    EXPECT_FALSE(api.fileExists(file.c_str()));
    EXPECT_STREQ(L"b.txt", api.pathFindFileName(folder.file(L"b.txt").c_str()));
    WIN32_FIND_DATAW data = {};
    HANDLE find = api.findFirstFile(folder.file(L"*.txt").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    EXPECT_STREQ(L"b.txt", data.cFileName);
    EXPECT_FALSE(api.findNextFile(find, &data));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), api.getLastError());
    EXPECT_TRUE(api.findClose(find));

    folder.write(L"c.log", "c");
    EXPECT_TRUE(api.deleteFiles(folder.file(L"*.log").c_str(), false));
    EXPECT_FALSE(api.fileExists(folder.file(L"c.log").c_str()));
    EXPECT_TRUE(api.deleteFile(folder.file(L"b.txt").c_str()));
    EXPECT_FALSE(api.deleteFile(folder.file(L"b.txt").c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), api.getLastError());

    HANDLE handle = api.createFile(folder.file(L"d.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle);
    EXPECT_TRUE(api.closeHandle(handle));
    wchar_t longPath[MAX_PATH * 2] = {};
    EXPECT_GT(api.getLongPathName(folder.file(L"d.txt").c_str(), longPath, MAX_PATH * 2), 0u);
}
