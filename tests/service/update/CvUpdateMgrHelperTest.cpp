#include "GlobalListScope.h"
#include "TrustKit.h"

#include "ChildProcess.h"
#include "LogFile.h"
#include "TestNames.h"

#include "UpdateAgent.h"
#include "update/CvUpdateMgr_Helper.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <string>

using Kest::CCvUpdateMgr_Helper;
using TestSupport::LogFile;

namespace {

const wchar_t* const kSource = L"CvUpdateMgr_Helper";

class UpdateHelper : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(log.ready()); }

    bool logged(uint32_t level, const wchar_t* function, const std::wstring& text) const
    {
        return !log.find({level, kSource, function, text}).empty();
    }

    LogFile log;
};

TEST_F(UpdateHelper, KeepsTheNameItIsGiven)
{
    EXPECT_STREQ(L"default", CCvUpdateMgr_Helper(L"default").UpdateName());
    EXPECT_EQ(L"Global\\{834C46D9-6762-4FF9-8279-2C04C8B1162C}default", CCvUpdateMgr_Helper(L"default").EventName());
    EXPECT_STREQ(L"", CCvUpdateMgr_Helper(nullptr).UpdateName());
    const std::wstring longName(400, L'n');
    EXPECT_EQ(std::wstring(259, L'n'), CCvUpdateMgr_Helper(longName.c_str()).UpdateName());
}

TEST_F(UpdateHelper, UpdateRunsWhileItsEventExists)
{
    const std::wstring name = TestSupport::uniqueName(L"run");
    CCvUpdateMgr_Helper helper(name.c_str());
    BOOL running = 7;
    EXPECT_EQ(S_OK, helper.IsUpdateRunning(&running));
    EXPECT_EQ(0, running);
    EXPECT_TRUE(logged(1, L"CCvUpdateMgr_Helper::IsUpdateRunning", L"An update is NOT running."));

    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, helper.EventName().c_str());
    ASSERT_NE(nullptr, event);
    EXPECT_EQ(S_OK, helper.IsUpdateRunning(&running));
    EXPECT_EQ(1, running);
    // Another update's event says nothing about this one.
    BOOL other = 7;
    EXPECT_EQ(S_OK, CCvUpdateMgr_Helper((name + L"x").c_str()).IsUpdateRunning(&other));
    EXPECT_EQ(0, other);
    CloseHandle(event);
    EXPECT_EQ(S_OK, helper.IsUpdateRunning(&running));
    EXPECT_EQ(0, running);

    EXPECT_TRUE(logged(1, L"CCvUpdateMgr_Helper::IsUpdateRunning", L"Checking if an update is currently running...."));
    EXPECT_TRUE(logged(1, L"CCvUpdateMgr_Helper::IsUpdateRunning", L"An update is running."));
}

// The update manager may guard its event: an event this caller may not open
// still exists, and so does the update.
TEST_F(UpdateHelper, AnEventThatRefusesTheCallerStillMeansAnUpdateRuns)
{
    const std::wstring name = TestSupport::uniqueName(L"guarded");
    CCvUpdateMgr_Helper helper(name.c_str());
    SECURITY_DESCRIPTOR descriptor;
    ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ACL emptyAcl;
    ASSERT_TRUE(InitializeAcl(&emptyAcl, sizeof(emptyAcl), ACL_REVISION));
    // An empty access list grants nothing to anyone.
    ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, &emptyAcl, FALSE));
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), &descriptor, FALSE};
    HANDLE event = CreateEventW(&attributes, TRUE, FALSE, helper.EventName().c_str());
    ASSERT_NE(nullptr, event);
    ASSERT_EQ(nullptr, OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, helper.EventName().c_str()));
    ASSERT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

    BOOL running = 7;
    EXPECT_EQ(S_OK, helper.IsUpdateRunning(&running));
    EXPECT_EQ(1, running);
    EXPECT_TRUE(logged(1, L"CCvUpdateMgr_Helper::IsUpdateRunning", L"An update is running."));
    CloseHandle(event);
}

// The update manager is another process: its event is seen across processes.
TEST_F(UpdateHelper, SeesTheEventOfAnotherProcess)
{
    const std::wstring name = TestSupport::uniqueName(L"other");
    CCvUpdateMgr_Helper helper(name.c_str());
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, (helper.EventName() + L"-ready").c_str());
    ASSERT_NE(nullptr, ready);
    // The child is this program running the holder below.
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    SetEnvironmentVariableW(L"UPDATE_HELPER_HOLD_EVENT", helper.EventName().c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=UpdateEventHolder.Holds";
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    SetEnvironmentVariableW(L"UPDATE_HELPER_HOLD_EVENT", nullptr);
    HANDLE waits[] = {ready, process.hProcess};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, waits, FALSE, 60000));

    BOOL running = 0;
    EXPECT_EQ(S_OK, helper.IsUpdateRunning(&running));
    EXPECT_EQ(1, running);

    // Reminding signals the update manager's event; the child ends on it.
    EXPECT_EQ(S_OK, helper.RemindRestart());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 60000));
    DWORD code = 99;
    GetExitCodeProcess(process.hProcess, &code);
    EXPECT_EQ(0u, code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(ready);
}

// The child half of the test above: holds the event until it is signalled.
TEST(UpdateEventHolder, Holds)
{
    wchar_t name[1024] = {};
    DWORD n = GetEnvironmentVariableW(L"UPDATE_HELPER_HOLD_EVENT", name, 1024);
    if (n == 0 || n >= 1024)
        GTEST_SKIP() << "runs only as the child of SeesTheEventOfAnotherProcess";
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, name);
    ASSERT_NE(nullptr, event);
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, (std::wstring(name) + L"-ready").c_str());
    ASSERT_NE(nullptr, ready);
    SetEvent(ready);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 60000));
    CloseHandle(ready);
    CloseHandle(event);
}

TEST_F(UpdateHelper, RemindingNeedsTheUpdateEvent)
{
    const std::wstring name = TestSupport::uniqueName(L"remind");
    CCvUpdateMgr_Helper helper(name.c_str());
    EXPECT_EQ(E_FAIL, helper.RemindRestart());
    EXPECT_TRUE(logged(4, L"CCvUpdateMgr_Helper::RemindRestart", L"Failed to open remind restart event - error 2"));

    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, helper.EventName().c_str());
    ASSERT_NE(nullptr, event);
    EXPECT_EQ(S_OK, helper.RemindRestart());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 0));
    CloseHandle(event);
}

TEST_F(UpdateHelper, NullOutPointersAreRefused)
{
    CCvUpdateMgr_Helper helper(L"default");
    DWORD phase = 5;
    BOOL flag = 0;
    EXPECT_EQ(E_POINTER, helper.IsUpdateRunning(nullptr));
    EXPECT_EQ(E_POINTER, helper.IsUpdateRunning2(nullptr, &phase));
    EXPECT_EQ(E_POINTER, helper.IsUpdateRunning2(&flag, nullptr));
    EXPECT_EQ(E_POINTER, helper.IsRestartPending(nullptr));
    EXPECT_EQ(E_POINTER, helper.CancelUpdate2(nullptr));
    EXPECT_EQ(5u, phase);

    EXPECT_TRUE(logged(4, L"CCvUpdateMgr_Helper::IsUpdateRunning", L"Invalid parameter!"));
    EXPECT_EQ(2u, log.find({4, kSource, L"CCvUpdateMgr_Helper::IsUpdateRunning2",
                            L"The pbRunning or pbRemindPending or pdwPhase is invalid!"})
                      .size());
    EXPECT_TRUE(logged(4, L"CCvUpdateMgr_Helper::IsRestartPending", L"The pbPending parameter is invalid!"));
    EXPECT_TRUE(logged(4, L"CCvUpdateMgr_Helper::CancelUpdate2", L"Invalid parameter!"));
    // A refused call asks nothing.
    EXPECT_TRUE(log.find({0, kSource, L"CCvUpdateMgr_Helper::IsUpdateRunning", L"Checking"}).empty());
}

// The agent's class registered for the test, trusted through the kit's root.
class UpdateAgentCreation : public UpdateHelper {
protected:
    void SetUp() override
    {
        UpdateHelper::SetUp();
        scope.writeList(TrustTests::listText("8", {TrustTests::kitThumbprintText("root")}));
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        wchar_t text[64] = {};
        StringFromGUID2(CLSID_UpdateAgent, text, 64);
        m_key = std::wstring(L"Software\\Classes\\CLSID\\") + text;
    }
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_key.c_str());
        CoUninitialize();
        SetEnvironmentVariableW(L"UPDATE_AGENT_DOUBLE_RESULT", nullptr);
        SetEnvironmentVariableW(L"UPDATE_AGENT_DOUBLE_NULL", nullptr);
    }
    void registerServer(const char* buildPath)
    {
        m_server = TestSupport::buildMachinePath(buildPath);
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, (m_key + L"\\InprocServer32").c_str(), 0, nullptr,
                                                 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(m_server.c_str()),
                       static_cast<DWORD>((m_server.size() + 1) * sizeof(wchar_t)));
        RegSetValueExW(key, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Both"), sizeof(L"Both"));
        RegCloseKey(key);
    }
    template <typename Fn>
    Fn serverFunction(const char* name) const
    {
        HMODULE module = GetModuleHandleW(m_server.c_str());
        return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
    }
    LONG calls() const
    {
        auto fn = serverFunction<LONG (*)()>("UpdateAgentDoubleCalls");
        return fn ? fn() : 0;
    }
    LONG alive() const
    {
        auto fn = serverFunction<LONG (*)()>("UpdateAgentDoubleAlive");
        return fn ? fn() : 0;
    }
    std::wstring lastName(bool& wasBstr) const
    {
        auto fn = serverFunction<LONG (*)(wchar_t*, DWORD)>("UpdateAgentDoubleLastName");
        wchar_t text[1024] = {};
        wasBstr = fn && fn(text, 1024) != 0;
        return text;
    }

    TrustTests::GlobalListScope scope;
    std::wstring m_key;
    std::wstring m_server;
};

TEST_F(UpdateAgentCreation, CancelReachesTheTrustedAgentWithTheName)
{
    registerServer(UPDATE_AGENT_SIGNED);
    const std::wstring name = TestSupport::uniqueName(L"cancel");
    CCvUpdateMgr_Helper helper(name.c_str());
    EXPECT_EQ(S_OK, helper.CancelUpdate());
    EXPECT_EQ(1, calls());
    bool wasBstr = false;
    EXPECT_EQ(name, lastName(wasBstr));
    EXPECT_TRUE(wasBstr);
    EXPECT_EQ(0, alive()) << "the agent was not released";

    BOOL sent = 0;
    EXPECT_EQ(S_OK, helper.CancelUpdate2(&sent));
    EXPECT_EQ(1, sent);
    EXPECT_EQ(2, calls());
    EXPECT_TRUE(logged(3, L"CCvUpdateMgr_Helper::CancelUpdate", L"Cancelling updates..."));
    EXPECT_TRUE(logged(3, L"CCvUpdateMgr_Helper::CancelUpdate2", L"Successfully send cancel request"));
}

TEST_F(UpdateAgentCreation, TheAgentsAnswerIsTheCallersAnswer)
{
    registerServer(UPDATE_AGENT_SIGNED);
    CCvUpdateMgr_Helper helper(L"default");
    SetEnvironmentVariableW(L"UPDATE_AGENT_DOUBLE_RESULT", L"80004005");
    EXPECT_EQ(E_FAIL, helper.CancelUpdate());
    SetEnvironmentVariableW(L"UPDATE_AGENT_DOUBLE_RESULT", L"1");
    EXPECT_EQ(S_FALSE, helper.CancelUpdate());

    BOOL sent = 0;
    EXPECT_EQ(S_FALSE, helper.CancelUpdate2(&sent));
    EXPECT_EQ(1, sent);
    SetEnvironmentVariableW(L"UPDATE_AGENT_DOUBLE_RESULT", L"80070005");
    sent = 1;
    EXPECT_EQ(E_ACCESSDENIED, helper.CancelUpdate2(&sent));
    EXPECT_EQ(0, sent);
    EXPECT_TRUE(logged(4, L"CCvUpdateMgr_Helper::CancelUpdate2", L"Failed to send cancel request. hr = 0x80070005"));
    EXPECT_EQ(0, alive());
}

TEST_F(UpdateAgentCreation, NoAgentNoCancel)
{
    struct Case {
        const char* label;
        const char* server; // null: the class is not registered
        const wchar_t* nullObject;
        HRESULT expected;
    };
    const Case cases[] = {
        {"class not registered", nullptr, nullptr, REGDB_E_CLASSNOTREG},
        {"untrusted library", UPDATE_AGENT_UNSIGNED, nullptr, E_ACCESSDENIED},
        {"success without an object", UPDATE_AGENT_SIGNED, L"1", E_POINTER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_key.c_str());
        if (c.server)
            registerServer(c.server);
        SetEnvironmentVariableW(L"UPDATE_AGENT_DOUBLE_NULL", c.nullObject);
        CCvUpdateMgr_Helper helper(L"default");
        BOOL sent = 1;
        EXPECT_EQ(c.expected, helper.CancelUpdate2(&sent));
        EXPECT_EQ(0, sent);
        EXPECT_EQ(0, calls());
        wchar_t hr[16] = {};
        swprintf(hr, 16, L"0x%08x", static_cast<unsigned>(c.expected));
        EXPECT_TRUE(logged(4, L"CCvUpdateMgr_Helper::CancelUpdate",
                           std::wstring(L"Failed to create update agent object. hr = ") + hr));
        EXPECT_TRUE(logged(4, L"CCvUpdateMgr_Helper::CancelUpdate2",
                           std::wstring(L"Failed to send cancel request. hr = ") + hr));
    }
}

} // namespace
