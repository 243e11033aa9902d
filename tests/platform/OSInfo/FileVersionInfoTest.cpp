#include "FileSystem/FileSystem.h"
#include "Version/FileVersionInfo.h"
#include "Version/SystemFileVersionInfo.h"

#include "FakeShlObjAPI.h"
#include "ScratchFolder.h"
#include "TestNames.h"

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <windows.h>

#include <string>

using Halvex::FileVersionInfo;
using Halvex::SystemFileVersionInfo;
using Halvex::VersionString;
using Halvex::VersionStringName;
using TestSupport::FakeShlObjAPI;

namespace {

std::wstring fixture(const std::wstring& name)
{
    std::wstring folder;
    EXPECT_TRUE(Halvex::GetHostFolder(folder, true));
    return folder + name + L".dll";
}

std::wstring realSystemFolder()
{
    PWSTR path = nullptr;
    EXPECT_EQ(S_OK, SHGetKnownFolderPath(FOLDERID_System, 0, nullptr, &path));
    std::wstring folder = path ? path : L"";
    CoTaskMemFree(path);
    return folder;
}

TEST(FileVersionInfoTest, StringsComeFromTheFirstTranslationThatHasThem)
{
    struct Case {
        const wchar_t* fixture;
        std::wstring name;
        std::wstring expected;
    } const cases[] = {
        {L"version_full", VersionStringName(VersionString::CompanyName), L"Fixture Makers"},
        {L"version_full", VersionStringName(VersionString::FileVersion), L"1.2.3.4"},
        {L"version_full", VersionStringName(VersionString::FileDescription), L"A module with every standard string"},
        {L"version_full", VersionStringName(VersionString::LegalCopyright), L"(c) nobody"},
        {L"version_full", VersionStringName(VersionString::ProductName), L"Fixture Product"},
        {L"version_full", VersionStringName(VersionString::ProductVersion), L"5.6.7.8"},
        // The text ends at its first NUL.
        {L"version_full", L"Comments", L"first"},
        {L"version_full", L"NoSuchName", L""},
        {L"version_full", L"", L""},
        // Both translations have it: the first one's wins.
        {L"version_two_languages", L"FileVersion", L"2.0 english"},
        // Only the second translation has it.
        {L"version_two_languages", L"ProductName", L"Produkt nur deutsch"},
        {L"version_two_languages", L"CompanyName", L""},
        // String blocks without a translation list are never looked at.
        {L"version_no_translation", L"FileVersion", L""},
        {L"version_no_translation", L"ProductVersion", L""},
    };
    for (const auto& c : cases) {
        FileVersionInfo info;
        ASSERT_TRUE(info.Load(fixture(c.fixture))) << TestSupport::narrow(c.fixture);
        EXPECT_EQ(info.GetString(c.name), c.expected)
            << TestSupport::narrow(c.fixture) << " " << TestSupport::narrow(c.name);
    }
}

TEST(FileVersionInfoTest, FilesWithoutAResourceLoadNothing)
{
    const std::wstring paths[] = {fixture(L"version_none"), fixture(L"no_such_fixture"), L""};
    for (const auto& path : paths) {
        FileVersionInfo info;
        EXPECT_FALSE(info.Load(path)) << TestSupport::narrow(path);
        EXPECT_FALSE(info.IsLoaded());
        EXPECT_EQ(info.GetString(L"FileVersion"), L"");
        EXPECT_EQ(info.GetString(L"ProductVersion"), L"");
    }
}

TEST(FileVersionInfoTest, ASecondLoadKeepsTheFirstFilesData)
{
    FileVersionInfo info;
    ASSERT_TRUE(info.Load(fixture(L"version_full")));
    EXPECT_FALSE(info.Load(fixture(L"version_two_languages")));
    EXPECT_FALSE(info.Load(fixture(L"version_full")));
    EXPECT_EQ(info.GetString(L"FileVersion"), L"1.2.3.4");
}

TEST(FileVersionInfoTest, SystemFileIsReadFromTheSystemFolder)
{
    SystemFileVersionInfo info;
    EXPECT_EQ(info.GetSystemFolder(), realSystemFolder() + L"\\");
    ASSERT_TRUE(info.Load(L"kernel32.dll"));
    EXPECT_NE(info.GetString(L"ProductVersion"), L"");
}

TEST(FileVersionInfoTest, SystemFolderComesFromTheShellWrapperOnce)
{
    auto shell = std::make_shared<FakeShlObjAPI>();
    std::wstring here;
    ASSERT_TRUE(Halvex::GetHostFolder(here, false));
    shell->set(FOLDERID_System, here);

    SystemFileVersionInfo info(shell);
    EXPECT_EQ(info.GetSystemFolder(), here + L"\\");
    ASSERT_TRUE(info.Load(L"version_full.dll"));
    EXPECT_EQ(info.GetString(L"ProductName"), L"Fixture Product");
    EXPECT_EQ(info.GetSystemFolder(), here + L"\\");
    EXPECT_EQ(shell->calls, 1);
}

TEST(FileVersionInfoTest, UnknownSystemFolderIsAskedForAgainAndNothingIsRead)
{
    TestSupport::ScratchFolder scratch;
    // A file in the root of the current drive must not stand in for the
    // system's own.
    ASSERT_TRUE(SetCurrentDirectoryW(scratch.path().c_str()));
    auto shell = std::make_shared<FakeShlObjAPI>();
    for (bool bufferOnFailure : {false, true}) {
        shell->calls = 0;
        shell->bufferOnFailure = bufferOnFailure;
        SystemFileVersionInfo info(shell);
        EXPECT_EQ(info.GetSystemFolder(), L"\\");
        EXPECT_EQ(info.GetSystemFolder(), L"\\");
        EXPECT_EQ(shell->calls, 2);
        EXPECT_FALSE(info.Load(L"kernel32.dll"));
        EXPECT_EQ(shell->calls, 3);
        EXPECT_EQ(info.GetString(L"ProductVersion"), L"");
    }
    // A shell that answers with an empty path knows no folder either.
    shell->set(FOLDERID_System, L"");
    SystemFileVersionInfo info(shell);
    EXPECT_EQ(info.GetSystemFolder(), L"\\");
    EXPECT_FALSE(info.Load(L"kernel32.dll"));
}

} // namespace
