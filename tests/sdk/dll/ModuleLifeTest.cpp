// A module on the base class driven by the host double over the bus library
// double: what the host hands over, what reaches the module's subscribers,
// what the module publishes and answers, and what it leaves of the host's bus.
#include "HostedModuleTest.h"

#include "SignedLibraryTrust.h"
#include "TestNames.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Lines = HostedModuleTest::Lines;

bool has(const Lines& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool anyContains(const Lines& lines, const std::string& part)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

class ModuleLife : public HostedModuleTest {
protected:
    // The host with a connection of its own on the bus library double.
    Lines host(const std::wstring& behaviour, const std::vector<std::wstring>& steps)
    {
        return hostLines(behaviour, {L"--bus=" + TestSupport::buildMachinePath(BUS_LIBRARY_PATH)}, steps);
    }
};

TEST_F(ModuleLife, ABaseModuleLivesOnTheBusTheHostHandsOver)
{
    const Lines out = host(L"base", {L"new=Tester", L"initv2=Tester;Second;b=2;a=1;a=3", L"start",
                                     L"await=TestModule.Started", L"request=TestModule.Echo;{\"x\":1}", L"stop",
                                     L"uninit", L"destroy", L"bus-connections", L"bus-journal"});
    EXPECT_TRUE(has(out, "InitializeModuleV2 0x00000000"));
    EXPECT_TRUE(has(out, "StartModule 0x00000000"));
    EXPECT_TRUE(has(out, "Received TestModule.Started {} source=Tester"));
    EXPECT_TRUE(has(out, "Request 0x00000000 TestModule.Echo.Reply {\"x\":1} source=Tester"));
    EXPECT_TRUE(has(out, "DestroyModule 0x00000000"));
    // The module's end detaches its reply callback and leaves the host's
    // connection open.
    EXPECT_TRUE(has(out, "OpenConnections 1"));
    EXPECT_TRUE(has(out, "Bus DetachReplyCallback"));
    EXPECT_FALSE(has(out, "Bus Release"));

    const Lines seen = journal();
    ASSERT_GE(seen.size(), 2u);
    // A repeated parameter name keeps its first value.
    EXPECT_EQ("initialize name=Tester second=Second parameters=a=1;b=2; container=bus", seen[1]);
    EXPECT_TRUE(has(seen, "echo {\"x\":1} from ModuleHost"));
}

TEST_F(ModuleLife, DirectMessagesReachOnlyTheModulesOwnSubscribers)
{
    // Name 21 characters, source 4, payload 1: 114 + 2 x 26 = 166 bytes.
    const Lines out = host(L"base", {L"new=Tester", L"initv2=Tester", L"direct=TestModule.Direct.One;host;p;none",
                                     L"direct=TestModule.Direct.One;host;p;v1", L"direct=TestModule.Direct.One;host;p;v2",
                                     L"direct=Nobody.Listens;host;p;v2", L"destroy", L"bus-journal"});
    EXPECT_EQ(4, std::count(out.begin(), out.end(), std::string("DirectMessage 0x00000000")));
    EXPECT_FALSE(anyContains(out, "TestModule.Direct.One"));
    EXPECT_FALSE(anyContains(out, "Nobody.Listens"));

    const Lines seen = journal();
    EXPECT_TRUE(has(seen, "message TestModule.Direct.One p source=host size=166 version=2 session=0"));
    // A version-1 header is upgraded: 8 more bytes, and nothing read past its 100.
    EXPECT_TRUE(has(seen, "message TestModule.Direct.One p source=host size=208 version=2 session=0"));
    EXPECT_TRUE(has(seen, "message TestModule.Direct.One p source=host size=166 version=2 session=5"));
    EXPECT_FALSE(anyContains(seen, "Nobody.Listens"));
}

TEST_F(ModuleLife, WithoutTheHostsBusHandleOrTableBaseInitializeIsNeverReached)
{
    const Lines out = host(L"base", {L"new=Tester", L"initv2-null-bus", L"initv2-null-table", L"destroy"});
    EXPECT_EQ((Lines{"NewModule 0x00000000 handle=set", "InitializeModuleV2 0x8000000F",
                     "InitializeModuleV2 0x8000000F", "DestroyModule 0x00000000"}),
              out);
    EXPECT_EQ((Lines{"createModule", "destroyModule"}), journal());
}

// The module's own connection: the bus library beside the host program,
// loaded only when its signature is trusted.
class OwnConnection : public ModuleLife {
protected:
    // The host and the given kit copy of the bus library in one folder.
    std::wstring hostBeside(const wchar_t* busKitName)
    {
        const std::wstring host = m_folder.file(L"module_host.exe");
        EXPECT_TRUE(CopyFileW(TestSupport::buildMachinePath(MODULE_HOST_PATH).c_str(), host.c_str(), FALSE));
        EXPECT_TRUE(CopyFileW(TrustKit::kitPath(busKitName).c_str(), m_folder.file(L"Ondrel.dll").c_str(), FALSE));
        return host;
    }
};

TEST_F(OwnConnection, InitializeModuleOpensAConnectionOfItsOwnWhereTheBusLibraryIsFound)
{
    const std::wstring host = hostBeside(L"bus-signed.dll");
    const auto result = runHost(L"base", {},
                                {L"new=Tester", L"init=Tester;Second;a=1", L"start", L"stop", L"uninit", L"destroy"},
                                host);
    EXPECT_EQ((Lines{"NewModule 0x00000000 handle=set", "InitializeModule 0x00000000", "StartModule 0x00000000",
                     "StopModule 0x00000000", "UninitializeModule 0x00000000", "DestroyModule 0x00000000"}),
              result.lines());
    const Lines seen = journal();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ("initialize name=Tester second=Second parameters=a=1; container=bus", seen[1]);
}

TEST_F(OwnConnection, TheModulesOwnConnectionTalksToTheHostsOnTheSameBus)
{
    const std::wstring host = hostBeside(L"bus-signed.dll");
    const auto result = runHost(L"base", {L"--bus=" + m_folder.file(L"Ondrel.dll")},
                                {L"new=Tester", L"init=Tester", L"bus-connections", L"start",
                                 L"await=TestModule.Started", L"request=TestModule.Echo;{\"x\":1}", L"stop", L"uninit",
                                 L"destroy", L"bus-connections"},
                                host);
    const Lines out = result.lines();
    EXPECT_EQ(0u, result.exitCode) << result.output;
    EXPECT_TRUE(has(out, "InitializeModule 0x00000000"));
    EXPECT_TRUE(has(out, "OpenConnections 2")) << result.output;
    EXPECT_TRUE(has(out, "Received TestModule.Started {} source=Tester")) << result.output;
    EXPECT_TRUE(has(out, "Request 0x00000000 TestModule.Echo.Reply {\"x\":1} source=Tester")) << result.output;
    EXPECT_TRUE(has(out, "OpenConnections 1")) << "the module's own connection is released";
    EXPECT_TRUE(has(journal(), "echo {\"x\":1} from ModuleHost"));
}

TEST_F(OwnConnection, AnUntrustedBusLibraryIsNeverLoaded)
{
    for (const wchar_t* copy : {L"bus-unsigned.dll", L"bus-tampered.dll"}) {
        const std::wstring host = hostBeside(copy);
        const auto result = runHost(L"base", {}, {L"new=Tester", L"init=Tester", L"destroy"}, host);
        EXPECT_EQ((Lines{"NewModule 0x00000000 handle=set", "InitializeModule 0x8000000F", "DestroyModule 0x00000000"}),
                  result.lines())
            << TestSupport::narrow(copy);
    }
    EXPECT_FALSE(anyContains(journal(), "initialize"));
}

TEST_F(ModuleLife, InitializeModuleWithoutABusLibraryToLoadFails)
{
    const Lines out = host(L"base", {L"new=Tester", L"init", L"destroy"});
    EXPECT_TRUE(has(out, "InitializeModule 0x8000000F"));
    EXPECT_EQ((Lines{"createModule", "destroyModule"}), journal());
}

TEST_F(ModuleLife, ASubscriberThatThrowsOnADirectMessageAnswersUnknownException)
{
    const Lines out = host(L"base;throw:message=std",
                           {L"new=Tester", L"initv2=Tester", L"direct=TestModule.Direct.One;host;p", L"destroy"});
    EXPECT_TRUE(has(out, "DirectMessage 0x8000000F"));
    EXPECT_TRUE(has(out, "DestroyModule 0x00000000"));
}

TEST_F(ModuleLife, AModuleNotOnTheBaseClassIsOnlyInitialized)
{
    const Lines out = host(L"", {L"new=Plain", L"initv2=Plain", L"direct=TestModule.Direct.One;host;p;v2",
                                 L"destroy", L"bus-journal"});
    EXPECT_TRUE(has(out, "InitializeModuleV2 0x00000000"));
    EXPECT_TRUE(has(out, "DirectMessage 0x00000000"));
    EXPECT_FALSE(anyContains(out, "Bus DetachReplyCallback"));
    EXPECT_EQ((Lines{"createModule", "initialize", "destroyModule"}), journal());
}

} // namespace
