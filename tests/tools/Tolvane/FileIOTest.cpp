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

TEST_F(FileIOTest, ExistsOnlyForFilesThatOpenForReading)
{
    const std::wstring file = folder.write(L"a.dat", "x");
    EXPECT_TRUE(io.exists(file));
    EXPECT_FALSE(io.exists(folder.file(L"missing.dat")));
    EXPECT_FALSE(io.exists(folder.path()));
    EXPECT_FALSE(io.exists(L""));

    // Held by somebody who shares nothing: as good as absent.
    HANDLE exclusive = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, exclusive);
    EXPECT_FALSE(io.exists(file));
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
