#include "FileSystem/FileSystem.h"
#include "Replacements/ModulePathParts.h"

#include "ScratchFolder.h"
#include "TestNames.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

using Halvex::internal::ModulePathParts;
using Halvex::internal::ReadModulePathParts;
using TestSupport::narrow;

namespace {

// A module path longer than MAX_PATH: under Wine a name truncated to its
// buffer is not even terminated, so the parts must come from the whole path.
TEST(ModulePathPartsTest, ModulePathsOfEveryLengthSplitWhole)
{
    std::wstring here;
    ASSERT_TRUE(Halvex::GetHostFolder(here, true));
    const std::wstring probe = here + L"replacements_probe.dll";

    TestSupport::ScratchFolder scratch;
    std::wstring deep = scratch.path();
    while (deep.size() < MAX_PATH + 40) {
        deep += L"\\a_folder_of_some_length";
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr)) << narrow(deep);
    }
    struct Case {
        std::wstring folder;
        std::wstring name;
        std::wstring fileName;
        std::wstring extension;
    } const cases[] = {
        {scratch.path(), L"probe.dll", L"probe", L".dll"},
        {scratch.path(), L"probe.v2.module", L"probe.v2", L".module"},
        {deep, L"probe.dll", L"probe", L".dll"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.folder + L"\\" + c.name));
        const std::wstring copy = c.folder + L"\\" + c.name;
        ASSERT_TRUE(CopyFileW(probe.c_str(), copy.c_str(), FALSE)) << GetLastError();
        HMODULE module = LoadLibraryExW(copy.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        ASSERT_NE(module, nullptr) << GetLastError();
        ModulePathParts parts;
        EXPECT_TRUE(ReadModulePathParts(module, parts));
        FreeLibrary(module);
        ASSERT_EQ(c.folder.substr(1, 1), L":");
        EXPECT_EQ(parts.drive, c.folder.substr(0, 2));
        EXPECT_EQ(parts.folder, c.folder.substr(2) + L"\\");
        EXPECT_EQ(parts.fileName, c.fileName);
        EXPECT_EQ(parts.extension, c.extension);
    }
}

TEST(ModulePathPartsTest, AModuleWithoutAPathGivesNoParts)
{
    ModulePathParts parts;
    parts.drive = L"stale";
    EXPECT_FALSE(ReadModulePathParts(reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x10)), parts));
    EXPECT_EQ(parts.drive, L"");
    EXPECT_EQ(parts.folder, L"");
    EXPECT_EQ(parts.fileName, L"");
    EXPECT_EQ(parts.extension, L"");
}

} // namespace
