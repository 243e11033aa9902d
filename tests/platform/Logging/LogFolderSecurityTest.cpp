#include "FileSystem/FileSystem.h"
#include "Logging/LogFolderSecurity.h"

#include "ScratchFolder.h"
#include "TestNames.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <set>
#include <string>
#include <vector>

using ETWLogging::CreateOwnLogFolder;

namespace {

// Who may do more than read, as SDDL account texts, in a descriptor; and
// whether its access list is its own or taken from above.
struct Access {
    bool protectedList = false;
    std::set<std::wstring> writers;
    std::set<std::wstring> readers;
    std::wstring sddl;
};

Access accessOf(PSECURITY_DESCRIPTOR descriptor)
{
    Access access;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    access.protectedList = (control & SE_DACL_PROTECTED) != 0;
    LPWSTR text = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                             &text, nullptr)) {
        access.sddl = text;
        LocalFree(text);
    }
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    const DWORD changing = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                           FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    for (DWORD i = 0; present && dacl && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        LPWSTR sid = nullptr;
        if (!ConvertSidToStringSidW(&ace->SidStart, &sid))
            continue;
        (ace->Mask & changing ? access.writers : access.readers).insert(sid);
        LocalFree(sid);
    }
    return access;
}

std::wstring processAccount()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return std::wstring();
    BYTE buffer[512];
    DWORD size = 0;
    std::wstring text;
    LPWSTR sid = nullptr;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
        text = sid;
        LocalFree(sid);
    }
    CloseHandle(token);
    return text;
}

// Wine keeps no security of its own for files, so the folder's security is
// seen as the logger hands it to the system.
struct Made {
    std::wstring path;
    bool withSecurity = false;
    Access access;
};
std::vector<Made> g_made;

BOOL WINAPI recordingMakeFolder(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes)
{
    Made made{path, attributes != nullptr && attributes->lpSecurityDescriptor != nullptr, {}};
    if (made.withSecurity)
        made.access = accessOf(attributes->lpSecurityDescriptor);
    g_made.push_back(made);
    return CreateDirectoryW(path, nullptr);
}

} // namespace

// The logger's own folder, when the logger makes it, lets only SYSTEM, the
// administrators and the account that made it change anything in it, and the
// users read it; the folders above it are made with the security they
// inherit; a folder that is there already is used as it is.
TEST(LogFolderSecurity, OwnFolderIsChangedOnlyBySystemAdministratorsAndItsMaker)
{
    TestSupport::ScratchFolder scratch;
    const std::wstring above = scratch.path() + L"\\Corvane\\CVLOGS\\grp";
    const std::wstring own = above + L"\\Module";
    g_made.clear();
    ASSERT_EQ(CreateOwnLogFolder(own, recordingMakeFolder), 0u);
    EXPECT_TRUE(Halvex::DirectoryExists(own.c_str()));
    EXPECT_TRUE(Halvex::DirectoryExists(above.c_str()));
    ASSERT_EQ(g_made.size(), 1u) << "only the own folder is made with security of its own";
    EXPECT_EQ(g_made[0].path, own);
    ASSERT_TRUE(g_made[0].withSecurity);
    const Access& access = g_made[0].access;
    EXPECT_TRUE(access.protectedList) << TestSupport::narrow(access.sddl);
    const std::wstring account = processAccount();
    ASSERT_FALSE(account.empty());
    const std::set<std::wstring> writers = {L"S-1-5-18", L"S-1-5-32-544", account};
    EXPECT_EQ(access.writers, writers) << TestSupport::narrow(access.sddl);
    EXPECT_EQ(access.readers, std::set<std::wstring>{L"S-1-5-32-545"}) << TestSupport::narrow(access.sddl);

    g_made.clear();
    EXPECT_EQ(CreateOwnLogFolder(own, recordingMakeFolder), 0u);
    EXPECT_TRUE(g_made.empty()) << "an existing folder is used as it is";
}
