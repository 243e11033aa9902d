// The module table as a host sees it: the host double loads the test module
// library and drives it; the module's journal says which calls reached it.
#include "HostedModuleTest.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class ModuleTable : public HostedModuleTest {
protected:
    Lines hostLines(const std::wstring& behaviour, const std::vector<std::wstring>& steps)
    {
        return HostedModuleTest::hostLines(behaviour, {}, steps);
    }
};

TEST_F(ModuleTable, ExportsTheSameTableForAnyVersionAndReportsVersion2_1_0)
{
    EXPECT_EQ((Lines{"GetVersionNum 2001000", "GetVersionStr 2.1.0", "CreateObject same", "CreateObject same",
                     "CreateObject same", "ReleaseObject"}),
              hostLines(L"", {L"version", L"table=0", L"table=2001000", L"table=0xFFFFFFFF", L"release"}));
}

TEST_F(ModuleTable, DrivesAModuleThroughItsWholeLife)
{
    EXPECT_EQ((Lines{"NewModule 0x00000000 handle=set", "InitializeModule 0x00000000", "StartModule 0x00000000",
                     "DirectMessage 0x00000000", "StopModule 0x00000000", "UninitializeModule 0x00000000",
                     "DestroyModule 0x00000000"}),
              hostLines(L"", {L"new=TestModule", L"init=TestModule;Second;a=1;a=2", L"start",
                              L"direct=Some.Message;source;{}", L"stop", L"uninit", L"destroy"}));
    EXPECT_EQ((Lines{"createModule", "initialize", "start", "stop", "uninitialize", "destroyModule"}), journal());
}

TEST_F(ModuleTable, CreatesTheModuleWhateverTheName)
{
    EXPECT_EQ((Lines{"NewModule 0x00000000 handle=set", "DestroyModule 0x00000000",
                     "NewModule 0x00000000 handle=set", "InitializeModuleV2 0x00000000", "DestroyModule 0x00000000"}),
              hostLines(L"", {L"new", L"destroy", L"new=", L"initv2", L"destroy"}));
    EXPECT_EQ((Lines{"createModule", "destroyModule", "createModule", "initialize", "destroyModule"}), journal());
}

TEST_F(ModuleTable, PassesTheModulesStatusesThrough)
{
    EXPECT_EQ((Lines{"NewModule 0x00000000 handle=set", "InitializeModule 0x8000000D", "StartModule 0x80000013",
                     "StopModule 0x800000FF", "UninitializeModule 0x80000002", "DestroyModule 0x00000000"}),
              hostLines(L"status:initialize=8000000D;status:start=80000013;status:stop=800000FF;"
                        L"status:uninitialize=80000002",
                        {L"new=TestModule", L"init", L"start", L"stop", L"uninit", L"destroy"}));
}

TEST_F(ModuleTable, RefusesEveryEntryWithoutAHandle)
{
    // Before NewModule, after DestroyModule, or with a null out pointer: the
    // module is never reached.
    EXPECT_EQ((Lines{"NewModule 0x80000008 handle=untouched", "InitializeModule 0x80000008",
                     "InitializeModuleV2 0x80000008", "StartModule 0x80000008", "DirectMessage 0x80000008",
                     "StopModule 0x80000008", "UninitializeModule 0x80000008", "DestroyModule 0x80000008",
                     "NewModule 0x00000000 handle=set", "DestroyModule 0x00000000", "StartModule 0x80000008",
                     "DestroyModule 0x80000008"}),
              hostLines(L"", {L"new-null-out", L"init", L"initv2", L"start", L"direct=a;b;c", L"stop", L"uninit",
                              L"destroy", L"new=TestModule", L"destroy", L"start", L"destroy"}));
    EXPECT_EQ((Lines{"createModule", "destroyModule"}), journal());
}

TEST_F(ModuleTable, RefusesNullStringsAndArraysInsteadOfReadingThem)
{
    EXPECT_EQ((Lines{"NewModule 0x00000000 handle=set", "InitializeModule 0x80000008", "InitializeModule 0x80000008",
                     "InitializeModule 0x80000008", "InitializeModuleV2 0x80000008", "InitializeModuleV2 0x80000008",
                     "InitializeModuleV2 0x80000008", "DirectMessage 0x80000008", "DestroyModule 0x00000000"}),
              hostLines(L"", {L"new=TestModule", L"init-null-name", L"init-null-arrays", L"init-null-value",
                              L"initv2-null-name", L"initv2-null-arrays", L"initv2-null-value", L"direct-null-name",
                              L"destroy"}));
    EXPECT_EQ((Lines{"createModule", "destroyModule"}), journal());
}

TEST_F(ModuleTable, AHandleWithoutAModuleIsRefusedButCanBeDestroyed)
{
    EXPECT_EQ((Lines{"NewModule 0x00000000 handle=set", "InitializeModule 0x80000008", "StartModule 0x80000008",
                     "DirectMessage 0x80000008", "StopModule 0x80000008", "UninitializeModule 0x80000008",
                     "DestroyModule 0x00000000"}),
              hostLines(L"create=null",
                        {L"new=TestModule", L"init", L"start", L"direct=a;b;c", L"stop", L"uninit", L"destroy"}));
    EXPECT_EQ((Lines{"createModule"}), journal());
}

TEST_F(ModuleTable, AFailedCreateModuleLeavesTheOutHandleUntouched)
{
    const struct {
        const wchar_t* behaviour;
        const char* line;
    } cases[] = {
        {L"create=80000002", "NewModule 0x80000002 handle=untouched"},
        {L"create=80000010", "NewModule 0x80000010 handle=untouched"},
        {L"throw:create=std", "NewModule 0x8000000F handle=untouched"},
        {L"throw:create=int", "NewModule 0x8000000F handle=untouched"},
        {L"throw:create=bad_alloc", "NewModule 0x8000000F handle=untouched"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ((Lines{c.line, "StartModule 0x80000008"}), hostLines(c.behaviour, {L"new=TestModule", L"start"}))
            << c.line;
    }
}

TEST_F(ModuleTable, EveryThrowingBodyAnswersUnknownException)
{
    // One exception type per entry; DestroyModule frees the handle even so.
    EXPECT_EQ((Lines{"NewModule 0x00000000 handle=set", "InitializeModule 0x8000000F", "InitializeModuleV2 0x8000000F",
                     "StartModule 0x8000000F", "StopModule 0x8000000F", "UninitializeModule 0x8000000F",
                     "DestroyModule 0x8000000F", "StartModule 0x80000008"}),
              hostLines(L"throw:initialize=std;throw:start=int;throw:stop=bad_alloc;throw:uninitialize=int;"
                        L"throw:destroy=bad_alloc",
                        {L"new=TestModule", L"init", L"initv2", L"start", L"stop", L"uninit", L"destroy", L"start"}));
    EXPECT_EQ((Lines{"createModule", "initialize", "initialize", "start", "stop", "uninitialize", "destroyModule"}),
              journal());
}

TEST_F(ModuleTable, TheHostEndsAStepThatOutlivesItsLimit)
{
    const auto result = runHost(L"hang:start", {L"--step-timeout-ms=300"}, {L"new=TestModule", L"start", L"stop"});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(3u, result.exitCode);
    EXPECT_EQ((Lines{"NewModule 0x00000000 handle=set", "start timed out"}), result.lines());
}

TEST(ModuleLibraryVersion, TheVersionResourceSays2_1_0)
{
    const std::wstring library = TestSupport::buildMachinePath(TEST_MODULE_PATH);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(library.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(library.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(MAKELONG(1, 2), fixed->dwFileVersionMS);
    EXPECT_EQ(0u, fixed->dwFileVersionLS);
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\FileVersion",
                               reinterpret_cast<void**>(&text), &length));
    EXPECT_EQ(std::wstring(L"2.1.0"), text);
}

} // namespace
