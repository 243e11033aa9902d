#include "Replacements/CommonReplacements.h"

#include "FakeShlObjAPI.h"
#include "TestNames.h"

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

using Halvex::CommonReplacements;
using Halvex::OSPlatform;
using TestSupport::FakeShlObjAPI;
using TestSupport::narrow;

namespace {

std::wstring expanded(CommonReplacements& replacements, std::wstring text,
                      const CommonReplacements::ExtraTable& extra = {})
{
    EXPECT_TRUE(replacements.expandWith(text, extra));
    return text;
}

std::wstring programPath()
{
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    EXPECT_GT(length, 0u);
    EXPECT_LT(length, path.size());
    path.resize(length);
    return path;
}

std::wstring knownFolder(REFKNOWNFOLDERID id)
{
    PWSTR path = nullptr;
    EXPECT_EQ(S_OK, SHGetKnownFolderPath(id, 0, nullptr, &path));
    std::wstring text = path ? path : L"";
    CoTaskMemFree(path);
    return text;
}

class FixedPlatform : public Halvex::internal::OSInfoProxy {
public:
    explicit FixedPlatform(uint32_t value) : m_value(value) {}
    OSPlatform GetPlatform() const override { return static_cast<OSPlatform>(m_value); }

private:
    uint32_t m_value;
};

TEST(CommonReplacementsTest, HostProgramPathInItsParts)
{
    const std::wstring path = programPath();
    const size_t slash = path.rfind(L'\\');
    ASSERT_NE(slash, std::wstring::npos);
    const std::wstring folder = path.substr(0, slash + 1);
    const std::wstring binary = path.substr(slash + 1);
    ASSERT_EQ(binary.substr(binary.size() - 4), L".exe");

    CommonReplacements replacements;
    struct Case {
        std::wstring text;
        std::wstring expected;
    } const cases[] = {
        {L"$(App.Path)", path},
        {L"$(App.Folder)", folder},
        {L"$(App.Binary)", binary},
        {L"$(App.Name)", binary.substr(0, binary.size() - 4)},
        {L"$(App.Folder)\\log.txt", folder + L"\\log.txt"},
        {L"[$(App.Name)$(App.Binary)]", L"[" + binary.substr(0, binary.size() - 4) + binary + L"]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(expanded(replacements, c.text), c.expected) << narrow(c.text);
}

TEST(CommonReplacementsTest, KnownFoldersAskTheShellForTheirOwnIdentifier)
{
    struct Case {
        std::wstring token;
        KNOWNFOLDERID id;
    } const cases[] = {
        {L"$(FOLDERID_Profile)", FOLDERID_Profile},
        {L"$(FOLDERID_Desktop)", FOLDERID_Desktop},
        {L"$(FOLDERID_Documents)", FOLDERID_Documents},
        {L"$(FOLDERID_LocalAppDataLow)", FOLDERID_LocalAppDataLow},
        {L"$(FOLDERID_LocalAppData)", FOLDERID_LocalAppData},
        {L"$(FOLDERID_RoamingAppData)", FOLDERID_RoamingAppData},
        {L"$(FOLDERID_ProgramData)", FOLDERID_ProgramData},
        {L"$(FOLDERID_ProgramFiles)", FOLDERID_ProgramFiles},
        {L"$(FOLDERID_ProgramFilesX64)", FOLDERID_ProgramFilesX64},
        {L"$(FOLDERID_ProgramFilesX86)", FOLDERID_ProgramFilesX86},
        {L"$(FOLDERID_ProgramFilesCommon)", FOLDERID_ProgramFilesCommon},
        {L"$(FOLDERID_ProgramFilesCommonX64)", FOLDERID_ProgramFilesCommonX64},
        {L"$(FOLDERID_ProgramFilesCommonX86)", FOLDERID_ProgramFilesCommonX86},
    };
    auto shell = std::make_shared<FakeShlObjAPI>();
    for (const auto& c : cases)
        shell->set(c.id, L"Q:\\" + FakeShlObjAPI::key(c.id));
    CommonReplacements replacements(shell);
    for (const auto& c : cases) {
        EXPECT_EQ(expanded(replacements, c.token + L"\\x"), L"Q:\\" + FakeShlObjAPI::key(c.id) + L"\\x")
            << narrow(c.token);
        EXPECT_EQ(replacements.getExpansionCounts().resolved, 1u);
    }

    // A folder the shell cannot give leaves the token, also when the shell
    // hands back a buffer with its failure.
    shell->clear();
    for (bool bufferOnFailure : {false, true}) {
        shell->bufferOnFailure = bufferOnFailure;
        EXPECT_EQ(expanded(replacements, L"$(FOLDERID_Desktop)\\x"), L"$(FOLDERID_Desktop)\\x");
        EXPECT_EQ(replacements.getExpansionCounts().matched, 1u);
        EXPECT_EQ(replacements.getExpansionCounts().resolved, 0u);
    }
}

TEST(CommonReplacementsTest, KnownFoldersOfTheRunningSystem)
{
    CommonReplacements replacements;
    EXPECT_EQ(expanded(replacements, L"$(FOLDERID_ProgramData)"), knownFolder(FOLDERID_ProgramData));
    EXPECT_EQ(expanded(replacements, L"$(FOLDERID_LocalAppData)\\a"), knownFolder(FOLDERID_LocalAppData) + L"\\a");
    EXPECT_EQ(expanded(replacements, L"$(FOLDERID_ProgramFilesX64)"), knownFolder(FOLDERID_ProgramFilesX64));
}

TEST(CommonReplacementsTest, PlatformNames)
{
    struct Case {
        uint32_t platform;
        std::wstring expected;
    } const cases[] = {
        {0, L"win32"},
        {1, L"x64"},
        {2, L"PlatformUnknown"},
        {3, L"$(OS.Platform)"},
    };
    for (const auto& c : cases) {
        CommonReplacements replacements(nullptr, std::make_shared<FixedPlatform>(c.platform));
        EXPECT_EQ(expanded(replacements, L"bin\\$(OS.Platform)\\"), L"bin\\" + c.expected + L"\\") << c.platform;
    }
    CommonReplacements onThisSystem;
    EXPECT_EQ(expanded(onThisSystem, L"$(OS.Platform)"), L"x64");
}

TEST(CommonReplacementsTest, CallerEntriesComeFirstButCannotBlankAToken)
{
    const std::wstring path = programPath();
    struct Case {
        std::wstring text;
        CommonReplacements::ExtraTable extra;
        std::wstring expected;
        uint64_t resolved;
    } const cases[] = {
        // Not a built-in name here.
        {L"$(Strova.InstallDir)\\x", {}, L"$(Strova.InstallDir)\\x", 0},
        {L"$(Strova.InstallDir)\\x", {{L"$(Strova.InstallDir)", [] { return L"C:\\Strova"; }}}, L"C:\\Strova\\x", 1},
        {L"$(App.Path)", {{L"$(App.Path)", [] { return L"fixed"; }}}, L"fixed", 1},
        {L"$(App.Path)", {{L"$(App.Path)", [] { return L""; }}}, L"$(App.Path)", 0},
        {L"$(App.Path)", {{L"$(App.Path)", [] () -> std::wstring { throw std::runtime_error("no"); }}},
         L"$(App.Path)", 0},
        {L"$(App.Path)", {{L"$(App.Path)", nullptr}}, L"$(App.Path)", 0},
        // Keys are whole tokens, compared exactly.
        {L"$(app.path)", {{L"App.Path", [] { return L"no"; }}}, L"$(app.path)", 0},
        {L"$(App.Path)", {{L"App.Path", [] { return L"no"; }}}, path, 1},
        // A value is never scanned again.
        {L"$(A)", {{L"$(A)", [] { return L"$(App.Path)"; }}}, L"$(App.Path)", 1},
    };
    CommonReplacements replacements;
    for (const auto& c : cases) {
        EXPECT_EQ(expanded(replacements, c.text, c.extra), c.expected) << narrow(c.text);
        EXPECT_EQ(replacements.getExpansionCounts().matched, 1u) << narrow(c.text);
        EXPECT_EQ(replacements.getExpansionCounts().resolved, c.resolved) << narrow(c.text);
    }
}

TEST(CommonReplacementsTest, CountersDescribeTheLastExpansion)
{
    CommonReplacements replacements;
    std::wstring text = L"$(App.Name)-$(No.Such.Name)-$(";
    EXPECT_TRUE(replacements.expand(text));
    EXPECT_EQ(replacements.getExpansionCounts().matched, 2u);
    EXPECT_EQ(replacements.getExpansionCounts().resolved, 1u);
    EXPECT_EQ(text.substr(text.size() - 19), L"-$(No.Such.Name)-$(");

    text = L"nothing to do";
    EXPECT_TRUE(replacements.expand(text));
    EXPECT_EQ(text, L"nothing to do");
    EXPECT_EQ(replacements.getExpansionCounts().matched, 0u);
    EXPECT_EQ(replacements.getExpansionCounts().resolved, 0u);
}

TEST(CommonReplacementsTest, LongOutsideTextExpands)
{
    const std::wstring longToken = L"$(" + std::wstring(200000, L'x') + L")";
    std::wstring text = longToken + L"\\$(App.Name)" + std::wstring(100000, L'(');
    CommonReplacements replacements;
    EXPECT_TRUE(replacements.expand(text));
    EXPECT_EQ(text.substr(0, longToken.size() + 1), longToken + L"\\");
    EXPECT_EQ(replacements.getExpansionCounts().matched, 2u);
    EXPECT_EQ(replacements.getExpansionCounts().resolved, 1u);
}

} // namespace
