#pragma once
// What the plugin tests share: the log file, the plugin double's switches and
// journal, a settings service on the bus double holding the registrations,
// folders to install copies of the double in, and the default plugin's
// machine key.
#include "LogFile.h"
#include "PluginDoubleControl.h"
#include "ScratchFolder.h"
#include "SettingsServicePeer.h"
#include "WaitUntil.h"

#include "settings/SettingsManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

namespace PluginTest {

const std::chrono::milliseconds kTimeout(5000);

// An alert as the dispatcher hands it to a plugin.
const wchar_t kAlertJson[] = L"{\"id\":\"{A1}\",\"product\":\"P\",\"content\":\"\"}";

class PluginFixture : public ::testing::Test {
protected:
    void SetUp() override;
    // A failed test shows what the process logged.
    void TearDown() override;

    static std::shared_ptr<Ostrand::SettingsManager> makeSettings();
    // The registration text of a library file in a folder.
    static std::wstring registration(const std::wstring& folder, const std::wstring& file);
    // Installs a signed copy of the double as `file` in `in` and registers it for the product.
    std::wstring registerPlugin(const std::wstring& productId, const TestSupport::ScratchFolder& in,
                                const std::wstring& file);
    // Lines of the plugin host's source at `level` from `function` holding `text`.
    size_t hostLines(uint32_t level, const std::wstring& function, const std::wstring& text) const;
    // Waits until the log holds such a line; false at the deadline.
    bool waitForHostLine(uint32_t level, const std::wstring& text,
                         std::chrono::milliseconds timeout = TestSupport::kGenerousWait) const;
    // Settings reads of a product's registration so far.
    size_t registrationReads(const std::wstring& productId);

    // Declared first: nothing in the process may log before it; the plugin
    // double's switches outlive every host a test makes.
    TestSupport::LogFile log;
    PluginDouble::Control plugin;
    SettingsPeer::SettingsServicePeer peer;
    // The settings client of the code under test, over a bus client of its own.
    std::shared_ptr<Ostrand::SettingsManager> settings = makeSettings();
    TestSupport::ScratchFolder folder;
};

// The default plugin's machine key, written by a test and removed with
// everything in it when the object goes (and when it is made).
class DefaultPluginKey {
public:
    DefaultPluginKey();
    ~DefaultPluginKey();
    DefaultPluginKey(const DefaultPluginKey&) = delete;
    DefaultPluginKey& operator=(const DefaultPluginKey&) = delete;

    void create() const;
    void setRaw(DWORD type, const void* data, DWORD size) const;
    void setFolder(const std::wstring& folder) const;
};

// The folder the default plugin falls back to: the parent of this program's
// folder followed by "\ZorPlugin", worked out without the code under test.
std::wstring fallbackFolder();

} // namespace PluginTest
