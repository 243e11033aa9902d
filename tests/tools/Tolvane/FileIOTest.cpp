#include "FileIO.h"

#include "ScratchFolder.h"
#include "TestNames.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

class FileIOTest : public ::testing::Test {
protected:
    TestSupport::ScratchFolder folder;
    Ostrand::FileIO io;
};

TEST_F(FileIOTest, ExistsForFilesThatOpenForReadingOrAreHeld)
{
    const std::wstring file = folder.write(L"a.dat", "x");
    EXPECT_TRUE(io.exists(file));
    EXPECT_FALSE(io.exists(folder.file(L"missing.dat")));
    EXPECT_FALSE(io.exists(folder.path()));
    EXPECT_FALSE(io.exists(L""));

    // Held by somebody who shares nothing: there all the same, only busy.
    HANDLE exclusive = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, exclusive);
    EXPECT_TRUE(io.exists(file));
    EXPECT_FALSE(io.open(file, L"rb"));
    CloseHandle(exclusive);
    EXPECT_TRUE(io.exists(file));
}

TEST_F(FileIOTest, OpenHandsOutAFileThatClosesWithItsLastOwner)
{
    const std::wstring path = folder.file(L"b.dat");
    std::shared_ptr<FILE> second;
    {
        std::shared_ptr<FILE> first = io.open(path, L"wb");
        ASSERT_TRUE(first);
        ASSERT_EQ(3U, fwrite("abc", 1, 3, first.get()));
        second = first;
    }
    // Still open: nobody can have it without sharing.
    HANDLE exclusive = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, exclusive);
    if (exclusive != INVALID_HANDLE_VALUE)
        CloseHandle(exclusive);
    second.reset();
    EXPECT_EQ("abc", TestSupport::ScratchFolder::read(path));

    const std::shared_ptr<FILE> narrow = io.open(TestSupport::narrow(path), "rb");
    ASSERT_TRUE(narrow);
    char buffer[4] = {};
    EXPECT_EQ(3U, fread(buffer, 1, sizeof(buffer), narrow.get()));
    EXPECT_STREQ("abc", buffer);

    EXPECT_FALSE(io.open(folder.file(L"missing.dat"), L"rb"));
}

// Committing hands the data to the disk and closes the file, and says when
// either failed; a file somebody else still holds is not closed under them.
TEST_F(FileIOTest, CommitFlushesToTheDiskClosesAndReportsFailure)
{
    const std::wstring path = folder.file(L"c.dat");
    std::shared_ptr<FILE> file = io.open(path, L"wb");
    ASSERT_TRUE(file);
    ASSERT_EQ(3U, fwrite("abc", 1, 3, file.get()));
    EXPECT_TRUE(io.commit(std::move(file)));
    // Closed: it can be had without sharing.
    HANDLE exclusive = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, exclusive);
    if (exclusive != INVALID_HANDLE_VALUE)
        CloseHandle(exclusive);
    EXPECT_EQ("abc", TestSupport::ScratchFolder::read(path));

    std::shared_ptr<FILE> held = io.open(path, L"ab");
    ASSERT_TRUE(held);
    std::shared_ptr<FILE> other = held;
    EXPECT_FALSE(io.commit(held));
    EXPECT_EQ('d', fputc('d', other.get())); // still open for its other owner
    other.reset();
    held.reset();
    EXPECT_EQ("abcd", TestSupport::ScratchFolder::read(path));

    // A file opened for reading cannot be flushed to the disk.
    EXPECT_FALSE(io.commit(io.open(path, L"rb")));
    EXPECT_FALSE(io.commit(nullptr));
    FILE* foreign = _wfopen(path.c_str(), L"rb");
    ASSERT_NE(nullptr, foreign);
    EXPECT_FALSE(io.commit(std::shared_ptr<FILE>(foreign, fclose)));
}

TEST_F(FileIOTest, ReplacePutsTheNewFileInPlaceOfTheOld)
{
    const std::wstring target = folder.write(L"target.dat", "old");
    const std::wstring fresh = folder.write(L"fresh.dat", "new");
    ASSERT_TRUE(io.replace(fresh, target));
    EXPECT_EQ("new", TestSupport::ScratchFolder::read(target));
    EXPECT_FALSE(io.exists(fresh));
    EXPECT_FALSE(io.replace(fresh, target));
    EXPECT_TRUE(io.remove(target));
    EXPECT_FALSE(io.remove(target));
}

} // namespace
