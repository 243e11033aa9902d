// Sentrel.dll as the host loads it: the host double drives the module through
// the library's table in a process of its own, on the bus library double,
// which reaches the settings service in the test process through a broker.
#include "BusBrokerFixture.h"
#include "ChildProcess.h"
#include "ScratchFolder.h"
#include "SettingsServicePeer.h"
#include "SignedLibraryTrust.h"
#include "TestNames.h"
#include "ToolLogFolder.h"

#include "Logging/CLoggingIf.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

size_t count(const std::vector<TestSupport::LogLine>& lines, uint32_t level, const std::wstring& file,
             const std::wstring& function, const std::wstring& text)
{
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const TestSupport::LogLine& line) {
        return line.level == TestSupport::LogFile::levelName(level) && line.file == file &&
               line.function == function && line.text == text;
    }));
}

TEST(SentrelLibrary, TheHostDrivesTheModuleThroughItsWholeLife)
{
    // The registrars ask the settings service when the module starts.
    BusBroker::BusBrokerFixture broker;
    SettingsPeer::SettingsServicePeer settings;

    // The module opens connections of its own: the bus library must lie
    // beside the host program, as it does in the framework's folder.
    TestSupport::ScratchFolder folder;
    const std::wstring host = folder.file(L"module_host.exe");
    const std::wstring library = folder.file(L"Sentrel.dll");
    const std::wstring bus = folder.file(L"Ondrel.dll");
    ASSERT_TRUE(CopyFileW(TestSupport::buildMachinePath(MODULE_HOST_PATH).c_str(), host.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(TestSupport::buildMachinePath(SENTREL_PATH).c_str(), library.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(TrustKit::kitPath(L"bus-signed.dll").c_str(), bus.c_str(), FALSE));
    // The tests of this program load the session API double, the host too.
    wchar_t program[MAX_PATH] = {};
    ASSERT_NE(0u, GetModuleFileNameW(nullptr, program, MAX_PATH - 1));
    std::wstring sessionLibrary = program;
    sessionLibrary = sessionLibrary.substr(0, sessionLibrary.rfind(L'\\') + 1) + L"wtsapi32.dll";
    ASSERT_TRUE(CopyFileW(sessionLibrary.c_str(), folder.file(L"wtsapi32.dll").c_str(), FALSE));

    // The host names the module; the name becomes the group of its log, and
    // the module sets no host.
    const std::wstring name = TestSupport::uniqueName(L"Sentrel");
    ToolLogFolder log(L"Sentrel", name, L"");
    ASSERT_TRUE(log.ready());

    const auto result = TestSupport::runChildProcess(
        host, {L"--bus=" + bus, library, L"new=" + name, L"initv2=" + name, L"start", L"request=Sentrel.Alert.GetId;",
               L"request=Sentrel.Alert.GetId;", L"request=Sentrel.Queue.GetStatus;", L"stop", L"uninit", L"destroy"});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode) << result.output;
    EXPECT_EQ((Lines{"NewModule 0x00000000 handle=set", "InitializeModuleV2 0x00000000", "StartModule 0x00000000",
                     "Request 0x00000000 Sentrel.Alert.GetId.Response 1 source=Sentrel",
                     "Request 0x00000000 Sentrel.Alert.GetId.Response 2 source=Sentrel",
                     "Request 0x00000000 Sentrel.Queue.GetStatus.Response 0 source=Sentrel", "StopModule 0x00000000",
                     "UninitializeModule 0x00000000", "DestroyModule 0x00000000"}),
              result.lines());

    const auto lines = log.lines();
    EXPECT_EQ(1u, count(lines, ETWLogging::LOG_LEVEL_INFORMATION, L"Sentrel", L"Ostrand::createModule",
                        L"Created Sentrel module."));
    EXPECT_EQ(1u, count(lines, ETWLogging::LOG_LEVEL_INFORMATION, L"Sentrel", L"Ostrand::destroyModule",
                        L"Destroying Sentrel module."));
    EXPECT_EQ(1u, count(lines, ETWLogging::LOG_LEVEL_INFORMATION, L"SentrelImpl",
                        L"Kest::SentrelImpl::executeCallback", L"Starting SR executor thread"));
    EXPECT_EQ(1u, count(lines, ETWLogging::LOG_LEVEL_INFORMATION, L"SentrelImpl",
                        L"Kest::SentrelImpl::executeCallback", L"Exiting SR executor thread"));
}

} // namespace
