#include "Registry/CRegKey.h"
#include "Registry/GrantEveryoneFullAccess.h"
#include "Registry/SecurityAPI.h"
#include "System/LoadSystemLibrary.h"

#include "FakeShlObjAPI.h"
#include "RegistryAccess.h"
#include "ScratchFolder.h"
#include "ScratchRegistryKey.h"
#include "TestNames.h"

#include <gtest/gtest.h>
#include <aclapi.h>
#include <knownfolders.h>
#include <windows.h>

#include <string>
#include <vector>

using Halvex::CRegKey;
using Halvex::internal::SecurityAPI;
using TestSupport::FakeShlObjAPI;
using TestSupport::ScratchRegistryKey;
using TestSupport::narrow;

namespace {

const DWORD kFullAccess[] = {GENERIC_ALL, KEY_ALL_ACCESS};

PSID everyoneSid()
{
    static BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(sid);
    EXPECT_TRUE(CreateWellKnownSid(WinWorldSid, nullptr, sid, &size));
    return sid;
}

PSID administratorsSid()
{
    static BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(sid);
    EXPECT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size));
    return sid;
}

struct Entry {
    BYTE type;
    BYTE flags;
    ACCESS_MASK mask;
    bool everyone;
    bool administrators;
};

// The DACL of a key as read back through a handle of the test's own.
struct Dacl {
    bool read = false;
    bool present = false;
    bool null = false;
    std::vector<Entry> entries;

    int everyoneEntries() const
    {
        int count = 0;
        for (const auto& e : entries)
            count += e.everyone ? 1 : 0;
        return count;
    }
    bool everyoneHasFullAccess() const
    {
        for (const auto& e : entries) {
            if (!e.everyone || e.type != ACCESS_ALLOWED_ACE_TYPE)
                continue;
            for (DWORD full : kFullAccess)
                if (e.mask == full && e.flags == (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE))
                    return true;
        }
        return false;
    }
};

Dacl daclOf(HKEY key)
{
    Dacl dacl;
    DWORD size = 0;
    if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER)
        return dacl;
    std::vector<BYTE> block(size);
    if (RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, block.data(), &size) != ERROR_SUCCESS)
        return dacl;
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    if (!GetSecurityDescriptorDacl(block.data(), &present, &acl, &defaulted))
        return dacl;
    dacl.read = true;
    dacl.present = present != FALSE;
    dacl.null = acl == nullptr;
    for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(acl, i, &ace))
            break;
        const auto* header = static_cast<ACE_HEADER*>(ace);
        Entry entry{header->AceType, header->AceFlags, 0, false, false};
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
            const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            PSID sid = const_cast<DWORD*>(&allowed->SidStart);
            entry.mask = allowed->Mask;
            entry.everyone = EqualSid(sid, everyoneSid()) != FALSE;
            entry.administrators = EqualSid(sid, administratorsSid()) != FALSE;
        }
        dacl.entries.push_back(entry);
    }
    return dacl;
}

HKEY createKey(HKEY parent, const std::wstring& path)
{
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr))
        << narrow(path);
    return key;
}

// Opens a key for reading its security only.
Dacl daclAt(HKEY parent, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, path.c_str(), 0, READ_CONTROL, &key) != ERROR_SUCCESS)
        return Dacl();
    Dacl dacl = daclOf(key);
    RegCloseKey(key);
    return dacl;
}

bool setDacl(HKEY key, const std::vector<std::pair<PSID, ACCESS_MASK>>& allowed)
{
    std::vector<BYTE> buffer(1024);
    auto* acl = reinterpret_cast<PACL>(buffer.data());
    if (!InitializeAcl(acl, static_cast<DWORD>(buffer.size()), ACL_REVISION))
        return false;
    for (const auto& entry : allowed)
        if (!AddAccessAllowedAce(acl, ACL_REVISION, entry.second, entry.first))
            return false;
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
    return RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
}

class NotNT : public Halvex::internal::OSInfoProxy {
public:
    bool IsNTPlatform() const override { return false; }
};

class GrantTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(nullptr, scratch.handle()); }
    ScratchRegistryKey scratch;
};

TEST_F(GrantTest, EveryoneGetsFullAccessInPlaceOfWhatItHad)
{
    ASSERT_TRUE(setDacl(scratch.handle(), {{everyoneSid(), KEY_READ}, {administratorsSid(), KEY_ALL_ACCESS}}));
    HKEY child = createKey(scratch.handle(), L"child");
    ASSERT_TRUE(setDacl(child, {{administratorsSid(), KEY_ALL_ACCESS}}));
    RegCloseKey(child);

    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(scratch.root(), scratch.path().c_str(), KEY_ALL_ACCESS));
    EXPECT_EQ(ERROR_SUCCESS, key.GrantEveryoneFullAccess(false));

    const Dacl dacl = daclOf(scratch.handle());
    ASSERT_TRUE(dacl.read);
    EXPECT_EQ(dacl.everyoneEntries(), 1);
    EXPECT_TRUE(dacl.everyoneHasFullAccess());
    bool administratorsKept = false;
    for (const auto& e : dacl.entries)
        administratorsKept = administratorsKept || (e.administrators && e.mask == KEY_ALL_ACCESS);
    EXPECT_TRUE(administratorsKept);
    // Without recursion the subkey keeps its own descriptor.
    EXPECT_EQ(daclAt(scratch.handle(), L"child").everyoneEntries(), 0);
}

TEST_F(GrantTest, RecursionReachesEveryKeyOfTheTree)
{
    const std::wstring paths[] = {L"a", L"a\\b", L"a\\b\\c", L"d", L"d\\e"};
    for (const auto& path : paths) {
        HKEY created = createKey(scratch.handle(), path);
        ASSERT_TRUE(setDacl(created, {{administratorsSid(), KEY_ALL_ACCESS}}));
        RegCloseKey(created);
    }
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(scratch.root(), scratch.path().c_str(), KEY_ALL_ACCESS));
    EXPECT_EQ(ERROR_SUCCESS, key.GrantEveryoneFullAccess(true));
    EXPECT_TRUE(daclOf(scratch.handle()).everyoneHasFullAccess());
    for (const auto& path : paths) {
        const Dacl dacl = daclAt(scratch.handle(), path);
        EXPECT_TRUE(dacl.read) << narrow(path);
        EXPECT_EQ(dacl.everyoneEntries(), 1) << narrow(path);
        EXPECT_TRUE(dacl.everyoneHasFullAccess()) << narrow(path);
    }
}

TEST_F(GrantTest, ASubkeyThatCannotBeOpenedIsPassedOver)
{
    HKEY locked = createKey(scratch.handle(), L"a_locked");
    RegCloseKey(createKey(scratch.handle(), L"b_open"));
    ASSERT_TRUE(TestSupport::denyAllAccess(locked));
    HKEY probe = nullptr;
    ASSERT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExW(scratch.handle(), L"a_locked", 0, KEY_ALL_ACCESS, &probe));

    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(scratch.root(), scratch.path().c_str(), KEY_ALL_ACCESS));
    EXPECT_EQ(ERROR_SUCCESS, key.GrantEveryoneFullAccess(true));
    EXPECT_TRUE(daclAt(scratch.handle(), L"b_open").everyoneHasFullAccess());
    const Dacl lockedDacl = daclOf(locked);
    EXPECT_TRUE(lockedDacl.present);
    EXPECT_TRUE(lockedDacl.entries.empty());

    ASSERT_TRUE(TestSupport::allowAllAccess(locked));
    RegCloseKey(locked);
}

// The descriptor takes effect: a key nobody could open opens after the grant.
TEST_F(GrantTest, AGrantOpensAKeyThatDeniedEverything)
{
    HKEY locked = createKey(scratch.handle(), L"locked");
    ASSERT_TRUE(TestSupport::denyAllAccess(locked));
    HKEY probe = nullptr;
    ASSERT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExW(scratch.handle(), L"locked", 0, KEY_READ, &probe));

    CRegKey key;
    key.Attach(locked);
    EXPECT_EQ(ERROR_SUCCESS, key.GrantEveryoneFullAccess(false));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(scratch.handle(), L"locked", 0, KEY_ALL_ACCESS, &probe));
    RegCloseKey(probe);
}

// A key with no DACL at all has a descriptor shorter than the block the
// grant initialises.
TEST_F(GrantTest, AKeyWithoutADaclGetsOneWithTheEntry)
{
    HKEY open = createKey(scratch.handle(), L"open");
    ASSERT_TRUE(TestSupport::allowAllAccess(open));
    ASSERT_TRUE(daclOf(open).null);

    CRegKey key;
    key.Attach(open);
    EXPECT_EQ(ERROR_SUCCESS, key.GrantEveryoneFullAccess(false));
    const Dacl dacl = daclAt(scratch.handle(), L"open");
    EXPECT_FALSE(dacl.null);
    EXPECT_EQ(dacl.everyoneEntries(), 1);
    EXPECT_TRUE(dacl.everyoneHasFullAccess());
}

TEST_F(GrantTest, NothingChangesWithoutAKeyOnOtherSystemsOrWithoutTheSecurityLibrary)
{
    ASSERT_TRUE(setDacl(scratch.handle(), {{administratorsSid(), KEY_ALL_ACCESS}}));
    TestSupport::ScratchFolder emptySystemFolder;
    auto shell = std::make_shared<FakeShlObjAPI>();
    shell->set(FOLDERID_System, emptySystemFolder.path());
    auto failingShell = std::make_shared<FakeShlObjAPI>();

    CRegKey notOpen;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, notOpen.GrantEveryoneFullAccess(true));

    struct Case {
        const char* what;
        std::shared_ptr<Halvex::internal::OSInfoProxy> osInfo;
        std::shared_ptr<Halvex::ShlObjAPI> shell;
        HKEY key;
        LONG expected;
    } const cases[] = {
        {"no key", nullptr, nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {"not NT", std::make_shared<NotNT>(), nullptr, scratch.handle(), ERROR_SUCCESS},
        {"no advapi32 in the system folder", nullptr, shell, scratch.handle(), ERROR_FILE_NOT_FOUND},
        {"no system folder", nullptr, failingShell, scratch.handle(), ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SecurityAPI api(c.osInfo, c.shell);
        EXPECT_EQ(c.expected, Halvex::internal::GrantEveryoneFullAccess(c.key, true, api)) << c.what;
        EXPECT_EQ(daclOf(scratch.handle()).everyoneEntries(), 0) << c.what;
    }
}

TEST(SecurityAPITest, UnboundFunctionsFailWithoutBeingCalled)
{
    SecurityAPI api(std::make_shared<NotNT>());
    EXPECT_FALSE(api.IsNT());
    EXPECT_TRUE(api.Load());
    SECURITY_DESCRIPTOR descriptor;
    EXPECT_FALSE(api.InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    DWORD size = 0;
    EXPECT_EQ(1, api.RegGetKeySecurity(HKEY_CURRENT_USER, DACL_SECURITY_INFORMATION, nullptr, &size));
    PACL merged = nullptr;
    EXPECT_EQ(1u, api.SetEntriesInAclW(0, nullptr, nullptr, &merged));

    SecurityAPI onThisSystem;
    EXPECT_TRUE(onThisSystem.IsNT());
    EXPECT_TRUE(onThisSystem.Load());
    EXPECT_TRUE(onThisSystem.Load());
    EXPECT_TRUE(onThisSystem.InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
}

TEST(LoadSystemLibraryTest, LoadsOnlyFromTheSystemFolder)
{
    EXPECT_EQ(nullptr, Halvex::internal::LoadSystemLibrary(nullptr));
    EXPECT_EQ(nullptr, Halvex::internal::LoadSystemLibrary(L""));

    HMODULE advapi = Halvex::internal::LoadSystemLibrary(L"advapi32.dll", LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(nullptr, advapi);
    EXPECT_NE(nullptr, GetProcAddress(advapi, "RegGetKeySecurity"));
    FreeLibrary(advapi);

    // The program's own folder is never looked at.
    std::wstring here(MAX_PATH, L'\0');
    here.resize(GetModuleFileNameW(nullptr, &here[0], MAX_PATH));
    const std::wstring programName = here.substr(here.rfind(L'\\') + 1);
    EXPECT_EQ(nullptr, Halvex::internal::LoadSystemLibrary(programName.c_str()));

    FakeShlObjAPI failing;
    EXPECT_EQ(nullptr, Halvex::internal::LoadSystemLibrary(failing, L"advapi32.dll", 0));
}

} // namespace
