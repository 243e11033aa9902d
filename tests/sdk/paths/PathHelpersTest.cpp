#include "paths/PathHelpers.h"

#include "Replacements/ModulePathParts.h"
#include "TestNames.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using Ostrand::PathHelpers;
using Halvex::internal::ModulePathParts;

namespace {

std::wstring guidText(REFGUID id)
{
    wchar_t text[64] = {};
    StringFromGUID2(id, text, 64);
    return text;
}

// Known folders from a table; anything else fails and still hands back a
// buffer, which the caller must free.
class FakeShell : public Ostrand::ShlObjAPI {
public:
    HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID folder, DWORD flags, HANDLE token, PWSTR* path) override
    {
        ++calls;
        lastFlags = flags;
        lastToken = token;
        const auto found = folders.find(guidText(folder));
        const std::wstring text = found == folders.end() ? L"junk" : found->second;
        *path = static_cast<PWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
        wcscpy(*path, text.c_str());
        return found == folders.end() ? E_FAIL : S_OK;
    }

    std::map<std::wstring, std::wstring> folders;
    int calls = 0;
    DWORD lastFlags = 0xFFFFFFFFu;
    HANDLE lastToken = INVALID_HANDLE_VALUE;
};

class FakeOSInfo : public Halvex::internal::OSInfoProxy {
public:
    FakeOSInfo(uint32_t platform, bool wow64) : m_platform(platform), m_wow64(wow64) {}
    Halvex::OSPlatform GetPlatform() const override { return static_cast<Halvex::OSPlatform>(m_platform); }
    bool IsWow64() const override { return m_wow64; }

private:
    uint32_t m_platform;
    bool m_wow64;
};

class FakeRegistry : public Ostrand::RegistryAPI {
public:
    uint32_t readString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& text) override
    {
        asked.emplace_back(keyPath, valueName);
        const auto found = values.find(valueName);
        if (found == values.end())
            return 0x80000002u;
        text = found->second;
        return 0;
    }

    std::map<std::wstring, std::wstring> values;
    std::vector<std::pair<std::wstring, std::wstring>> asked;
};

std::wstring hostProgramPath()
{
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    return std::wstring(buffer.data(), length);
}

ModulePathParts hostParts()
{
    ModulePathParts parts;
    EXPECT_TRUE(Halvex::internal::ReadModulePathParts(nullptr, parts));
    return parts;
}

std::wstring expanded(PathHelpers& helpers, std::wstring text)
{
    EXPECT_TRUE(helpers.expand(text));
    return text;
}

const std::pair<const wchar_t*, const KNOWNFOLDERID*> kKnownFolders[] = {
    {L"Profile", &FOLDERID_Profile},
    {L"Desktop", &FOLDERID_Desktop},
    {L"Documents", &FOLDERID_Documents},
    {L"LocalAppDataLow", &FOLDERID_LocalAppDataLow},
    {L"LocalAppData", &FOLDERID_LocalAppData},
    {L"RoamingAppData", &FOLDERID_RoamingAppData},
    {L"ProgramData", &FOLDERID_ProgramData},
    {L"ProgramFiles", &FOLDERID_ProgramFiles},
    {L"ProgramFilesX64", &FOLDERID_ProgramFilesX64},
    {L"ProgramFilesX86", &FOLDERID_ProgramFilesX86},
    {L"ProgramFilesCommon", &FOLDERID_ProgramFilesCommon},
    {L"ProgramFilesCommonX64", &FOLDERID_ProgramFilesCommonX64},
    {L"ProgramFilesCommonX86", &FOLDERID_ProgramFilesCommonX86},
};

struct Fixture {
    Fixture(uint32_t platform = Halvex::OSPlatformX64, bool wow64 = false)
        : shell(std::make_shared<FakeShell>()), os(std::make_shared<FakeOSInfo>(platform, wow64)),
          registry(std::make_shared<FakeRegistry>()), helpers(shell, os, registry)
    {
        for (const auto& folder : kKnownFolders)
            shell->folders[guidText(*folder.second)] = std::wstring(L"K:\\") + folder.first;
        registry->values[L"Install Dir"] = L"C:\\Program Files\\Strova";
        registry->values[L"Install Dir32"] = L"C:\\Program Files (x86)\\Strova";
    }

    std::shared_ptr<FakeShell> shell;
    std::shared_ptr<FakeOSInfo> os;
    std::shared_ptr<FakeRegistry> registry;
    PathHelpers helpers;
};

} // namespace

TEST(PathHelpers, EveryTokenExpands)
{
    const ModulePathParts host = hostParts();
    ASSERT_FALSE(host.fileName.empty());
    std::vector<std::pair<std::wstring, std::wstring>> cases = {
        {L"$(OS.Platform)", L"x64"},
        {L"$(App.Binary)", host.fileName + host.extension},
        {L"$(App.Name)", host.fileName},
        {L"$(App.Folder)", host.drive + host.folder},
        {L"$(App.Path)", hostProgramPath()},
        {L"$(Strova.InstallDir)", L"C:\\Program Files\\Strova"},
    };
    for (const auto& folder : kKnownFolders)
        cases.emplace_back(std::wstring(L"$(FOLDERID_") + folder.first + L")", std::wstring(L"K:\\") + folder.first);
    ASSERT_EQ(19u, cases.size());

    Fixture f;
    for (const auto& c : cases)
        EXPECT_EQ(c.second, expanded(f.helpers, c.first)) << TestSupport::narrow(c.first);
    EXPECT_EQ(L'\\', expanded(f.helpers, L"$(App.Folder)").back());
    EXPECT_EQ(0u, f.shell->lastFlags);
    EXPECT_EQ(nullptr, f.shell->lastToken);
}

TEST(PathHelpers, PlatformNames)
{
    const std::pair<uint32_t, std::wstring> cases[] = {
        {0, L"win32"}, {1, L"x64"}, {2, L"PlatformUnknown"}, {3, L"$(OS.Platform)"}, {0xFFFFFFFFu, L"$(OS.Platform)"},
    };
    for (const auto& c : cases) {
        Fixture f(c.first);
        EXPECT_EQ(L"lib\\" + c.second, expanded(f.helpers, L"lib\\$(OS.Platform)")) << c.first;
    }
}

TEST(PathHelpers, InstallFolderFollowsWow64)
{
    for (const bool wow64 : {false, true}) {
        Fixture f(Halvex::OSPlatformX64, wow64);
        EXPECT_EQ(wow64 ? L"C:\\Program Files (x86)\\Strova\\bin" : L"C:\\Program Files\\Strova\\bin",
                  expanded(f.helpers, L"$(Strova.InstallDir)\\bin"));
        ASSERT_EQ(1u, f.registry->asked.size());
        EXPECT_EQ(L"SOFTWARE\\CORVANE\\STROVA", f.registry->asked[0].first);
        EXPECT_EQ(wow64 ? L"Install Dir32" : L"Install Dir", f.registry->asked[0].second);
    }
}

TEST(PathHelpers, ValuesThatCannotBeHadLeaveTheTokenInPlace)
{
    Fixture f;
    f.shell->folders.clear();
    f.registry->values.clear();
    EXPECT_EQ(L"$(FOLDERID_ProgramData)\\x", expanded(f.helpers, L"$(FOLDERID_ProgramData)\\x"));
    EXPECT_EQ(L"$(Strova.InstallDir)\\x", expanded(f.helpers, L"$(Strova.InstallDir)\\x"));

    Fixture empty;
    empty.registry->values[L"Install Dir"] = L"";
    empty.shell->folders[guidText(FOLDERID_Desktop)] = L"";
    EXPECT_EQ(L"$(Strova.InstallDir)", expanded(empty.helpers, L"$(Strova.InstallDir)"));
    EXPECT_EQ(L"$(FOLDERID_Desktop)", expanded(empty.helpers, L"$(FOLDERID_Desktop)"));
}

TEST(PathHelpers, ScanningAndReplacementRules)
{
    Fixture f;
    const std::wstring name = hostParts().fileName;
    const std::wstring folder = expanded(f.helpers, L"$(App.Folder)");
    f.registry->values[L"Install Dir"] = L"$(App.Name)";
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"C:\\plain\\path", L"C:\\plain\\path"},
        {L"", L""},
        {L"$(App.Folder)\\lib.dll", folder + L"\\lib.dll"},
        {L"$(Unknown.Token)\\x", L"$(Unknown.Token)\\x"},
        {L"$()", L"$()"},
        {L"$(App.Folder", L"$(App.Folder"},
        {L"$(app.folder)", L"$(app.folder)"},
        {L"$($(App.Name))", L"$(" + name + L")"},
        {L"$$(App.Name)$", L"$" + name + L"$"},
        {L"$(App.Name)$(OS.Platform)", name + L"x64"},
        {L"$(App.Name$(OS.Platform)", L"$(App.Namex64"},
        {L"$(App (Name))", L"$(App (Name))"},
        {L"$(Strova.InstallDir)", L"$(App.Name)"}, // a value is never scanned again
        {L"a$(OS.Platform)b$(Nope)c$(OS.Platform)", L"ax64b$(Nope)cx64"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.second, expanded(f.helpers, c.first)) << TestSupport::narrow(c.first);
}

// Paths and registry values come from outside: a very long text must not
// exhaust the stack of a worker thread.
TEST(PathHelpers, LongTextOnAWorkerThread)
{
    Fixture f;
    const std::wstring longName(300000, L'n');
    const std::vector<std::pair<std::wstring, std::wstring>> cases = {
        {L"$(" + longName + L")", L"$(" + longName + L")"},
        {longName + L"$(OS.Platform)", longName + L"x64"},
        {std::wstring(300000, L'$'), std::wstring(300000, L'$')},
        {L"$(" + longName, L"$(" + longName},
    };
    std::vector<std::wstring> results(cases.size());
    std::thread worker([&] {
        for (size_t i = 0; i < cases.size(); ++i)
            results[i] = expanded(f.helpers, cases[i].first);
    });
    worker.join();
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(cases[i].second, results[i]) << i;
}

TEST(PathHelpers, ExpandsOnSeveralThreadsAtOnce)
{
    Fixture f;
    const std::wstring expected = expanded(f.helpers, L"$(App.Path)|$(OS.Platform)|$(FOLDERID_Documents)");
    std::vector<std::thread> threads;
    std::vector<int> mismatches(8, 0);
    for (size_t t = 0; t < mismatches.size(); ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                std::wstring text = L"$(App.Path)|$(OS.Platform)|$(FOLDERID_Documents)";
                f.helpers.expand(text);
                mismatches[t] += text != expected;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int count : mismatches)
        EXPECT_EQ(0, count);
}

TEST(PathHelpers, DefaultsReachTheSystem)
{
    PathHelpers helpers;
    PWSTR path = nullptr;
    ASSERT_EQ(S_OK, SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path));
    const std::wstring programData = path;
    CoTaskMemFree(path);
    EXPECT_EQ(programData + L"\\x", expanded(helpers, L"$(FOLDERID_ProgramData)\\x"));
    EXPECT_EQ(L"x64", expanded(helpers, L"$(OS.Platform)"));
    EXPECT_EQ(hostProgramPath(), expanded(helpers, L"$(App.Path)"));
}

// The framework's own key, read through the real registry reader: the one
// test that touches it, so that it may run beside every other.
TEST(PathHelpers, InstallFolderFromTheMachineRegistry)
{
    const wchar_t* keyPath = L"SOFTWARE\\CORVANE\\STROVA";
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &key, &disposition));
    const std::wstring dir = L"C:\\Strova64";
    const std::wstring dir32 = L"C:\\Strova32";
    RegSetValueExW(key, L"Install Dir", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir.c_str()),
                   static_cast<DWORD>((dir.size() + 1) * sizeof(wchar_t)));
    RegSetValueExW(key, L"Install Dir32", 0, REG_SZ, reinterpret_cast<const BYTE*>(dir32.c_str()),
                   static_cast<DWORD>((dir32.size() + 1) * sizeof(wchar_t)));

    std::wstring results[2];
    for (const bool wow64 : {false, true}) {
        PathHelpers helpers(nullptr, std::make_shared<FakeOSInfo>(Halvex::OSPlatformX64, wow64), nullptr);
        results[wow64] = expanded(helpers, L"$(Strova.InstallDir)\\Ondrel.dll");
    }
    RegDeleteValueW(key, L"Install Dir32");
    PathHelpers withoutValue(nullptr, std::make_shared<FakeOSInfo>(Halvex::OSPlatformX64, true), nullptr);
    const std::wstring missing = expanded(withoutValue, L"$(Strova.InstallDir)");

    RegDeleteValueW(key, L"Install Dir");
    RegCloseKey(key);
    if (disposition == REG_CREATED_NEW_KEY)
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath);

    EXPECT_EQ(L"C:\\Strova64\\Ondrel.dll", results[0]);
    EXPECT_EQ(L"C:\\Strova32\\Ondrel.dll", results[1]);
    EXPECT_EQ(L"$(Strova.InstallDir)", missing);
}
