// Sentrel.dll's end while its viewer list waits on the settings service: the
// module's end does not wait for the lookup, and the library is not taken
// from under the thread that still waits for it.
#include "ChildProcess.h"
#include "JsonText.h"
#include "RawBusPeer.h"
#include "SettingsServicePeer.h"
#include "TestNames.h"
#include "ToolLogFolder.h"
#include "WaitUntil.h"
#include "WtsDoubleControl.h"

#include "ModuleFunctions.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>

namespace {

using TestSupport::jsonText;

const uint32_t kSession = 3;
const std::wstring kViewerKey = L"Sentrel/Viewer/LookupViewer";
const std::wstring kLateKey = L"Sentrel/Viewer/LateViewer";
// An answer held back until the test lets it go: far beyond any wait of the test.
const std::chrono::milliseconds kHeld(std::chrono::minutes(10));

MODULE_STATUS managerCallback(void*, void*, void*, void*)
{
    return MODULE_STATUS_SUCCESS;
}

class SentrelViewerLookup : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(log.ready());
        BusDouble::RawBusPeer::control().reset();
        ASSERT_TRUE(wts.ready());
        wts.setActiveSession(kSession);
        wts.setLoggedOnSecondsAgo(kSession, 24 * 3600);
        settings.service().seed(kViewerKey, L"{}");
        ASSERT_NE(0u, watcher.subscribeFilter(L"Sentrel\\.Viewer\\..*\\.(Registered|Unregistered)"));

        library = LoadLibraryW(path.c_str());
        ASSERT_NE(nullptr, library) << GetLastError();
        const auto createObject =
            reinterpret_cast<CreateObjectFunction>(reinterpret_cast<void*>(GetProcAddress(library, "CreateObject")));
        ASSERT_NE(nullptr, createObject);
        table = static_cast<const ModuleFunctions*>(createObject(MODULE_LIBRARY_VERSION_NUM));
        ASSERT_NE(nullptr, table);
        ASSERT_EQ(MODULE_STATUS_SUCCESS, table->NewModule(&handle, moduleName.c_str()));
        ASSERT_EQ(MODULE_STATUS_SUCCESS, table->InitializeModule(handle, moduleName.c_str(), L"", 0, nullptr, nullptr,
                                                                 this, &managerCallback));
        ASSERT_EQ(MODULE_STATUS_SUCCESS, table->StartModule(handle));
    }

    void TearDown() override
    {
        if (handle) {
            table->StopModule(handle);
            table->UninitializeModule(handle);
            table->DestroyModule(handle);
        }
        settings.setReplyDelay(std::chrono::milliseconds(0));
        settings.releaseLateReplies();
    }

    size_t lookups() { return settings.requests(SettingsPeer::SettingsService::kGetProperties).size(); }

    bool loggedPart(const std::wstring& part) const
    {
        const auto lines = log.lines();
        return std::any_of(lines.begin(), lines.end(), [&part](const TestSupport::LogLine& line) {
            return line.text.find(part) != std::wstring::npos;
        });
    }

    const std::wstring path = TestSupport::buildMachinePath(SENTREL_PATH);
    const std::wstring moduleName = TestSupport::uniqueName(L"Sentrel");
    ToolLogFolder log{L"Sentrel", moduleName, L""};
    WtsDouble::WtsDoubleControl wts;
    SettingsPeer::SettingsServicePeer settings;
    BusDouble::RawBusPeer watcher;
    BusDouble::RawBusPeer settingsSide;
    HMODULE library = nullptr;
    const ModuleFunctions* table = nullptr;
    MODULE_HANDLE handle = nullptr;
};

TEST_F(SentrelViewerLookup, TheModulesEndLeavesALookupInFlightBehindAndTheLibraryStaysUntilItEnds)
{
    BusDouble::RawBusPeer::Delivery registered;
    ASSERT_TRUE(watcher.waitForDelivery(registered));
    EXPECT_EQ(L"Sentrel.Viewer.LookupViewer.Registered", registered.name);

    // A viewer registers while the settings service has stopped answering.
    const size_t before = lookups();
    settings.setReplyDelay(kHeld);
    settings.service().seed(kLateKey, L"{}");
    ASSERT_EQ(0u, settingsSide.publish(SettingsPeer::SettingsService::kNotifySet + kLateKey, L"SettingsService",
                                       L"{\"name\":" + jsonText(kLateKey) + L",\"value\":\"{}\"}"));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return lookups() > before; })) << "the notice was never looked up";

    EXPECT_EQ(MODULE_STATUS_SUCCESS, table->StopModule(handle));
    EXPECT_EQ(MODULE_STATUS_SUCCESS, table->UninitializeModule(handle));
    EXPECT_EQ(MODULE_STATUS_SUCCESS, table->DestroyModule(handle));
    handle = nullptr;
    // The module ended while its lookup was still unanswered.
    EXPECT_FALSE(loggedPart(L"Property list request timed out"));

    // The host lets the library go; the thread waiting for the answer still runs in it.
    ASSERT_TRUE(FreeLibrary(library));
    library = nullptr;
    EXPECT_NE(nullptr, GetModuleHandleW(path.c_str()));

    settings.setReplyDelay(std::chrono::milliseconds(0));
    settings.releaseLateReplies();
    EXPECT_TRUE(TestSupport::waitUntil([&] { return GetModuleHandleW(path.c_str()) == nullptr; }))
        << "the library stays loaded after its lookup was answered";
    // The answer came after the end: nothing was announced for it.
    BusDouble::RawBusPeer::Delivery late;
    EXPECT_FALSE(watcher.waitForDelivery(late, std::chrono::milliseconds(0))) << TestSupport::narrow(late.name);
}

} // namespace
