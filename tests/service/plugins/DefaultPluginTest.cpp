// Where the default plugin is loaded from: the machine key's folder when it
// can be read, else the "ZorPlugin" folder beside the program's folder.
#include "PluginTestSupport.h"

#include "plugin/AlertPluginLib.h"

#include "ModuleStatus.h"

#include <windows.h>

namespace {

using Kest::AlertPluginLib;
using PluginTest::DefaultPluginKey;
using PluginTest::kAlertJson;

enum class KeyState {
    FolderWithPlugin, // the value names a folder holding zorplugin.dll
    Absent,
    WithoutValue,
    EmptyText,        // "" stored with its terminator
    NoBytes,          // a REG_SZ of zero bytes
    TooLong,          // 300 characters: more than the read takes
    NotText,          // a REG_DWORD
};

struct FolderCase {
    const char* label;
    KeyState state;
    bool fallback; // the folder beside the program's folder
};

std::ostream& operator<<(std::ostream& out, const FolderCase& c)
{
    return out << c.label;
}

class DefaultPluginTest : public PluginTest::PluginFixture {
protected:
    MODULE_STATUS process(AlertPluginLib& plugin)
    {
        std::wstring json, extra;
        uint32_t suppress = 0;
        return plugin.processAlert(kAlertJson, json, &suppress, extra);
    }
    // The folder named in the default plugin's loading lines, one per line.
    std::vector<std::wstring> loadedFrom() const
    {
        const std::wstring head = L"Loading default plugin Name: zorplugin.dll, Path: ";
        std::vector<std::wstring> folders;
        TestSupport::LogQuery query;
        query.level = 1;
        query.file = L"AlertPluginLib";
        query.function = L"Kest::AlertPluginLib::load";
        query.text = head;
        for (const TestSupport::LogLine& line : log.find(query))
            folders.push_back(line.text.substr(head.size()));
        return folders;
    }

    DefaultPluginKey key;
};

class DefaultPluginFolderTest : public DefaultPluginTest, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(DefaultPluginFolderTest, ComesFromTheMachineKeyWhenItCanBeRead)
{
    const FolderCase& c = GetParam();
    std::wstring expected;
    switch (c.state) {
    case KeyState::FolderWithPlugin:
        PluginDouble::Control::install(folder.path(), L"zorplugin.dll");
        key.setFolder(folder.path());
        expected = folder.path();
        break;
    case KeyState::Absent:
        break;
    case KeyState::WithoutValue:
        key.create();
        break;
    case KeyState::EmptyText:
        key.setFolder(L"");
        break;
    case KeyState::NoBytes:
        key.setRaw(REG_SZ, L"", 0);
        break;
    case KeyState::TooLong:
        key.setFolder(folder.path() + L"\\" + std::wstring(300, L'x'));
        break;
    case KeyState::NotText: {
        const DWORD number = 5;
        key.setRaw(REG_DWORD, &number, sizeof(number));
        break;
    }
    }
    if (c.fallback)
        expected = PluginTest::fallbackFolder();

    AlertPluginLib host(AlertPluginLib::kDefaultProduct, nullptr, settings);
    const MODULE_STATUS status = process(host);
    EXPECT_EQ(c.state == KeyState::FolderWithPlugin ? MODULE_STATUS_SUCCESS : MODULE_STATUS_NOT_SUPPORTED, status);
    EXPECT_EQ(std::vector<std::wstring>{expected}, loadedFrom());
    EXPECT_TRUE(peer.requests().empty()) << "the default plugin has no registration to read";
    if (status == MODULE_STATUS_SUCCESS) {
        EXPECT_EQ(L"zorplugin.dll", plugin.calls(L"ProcessAlert").at(0).file);
    }
}

INSTANTIATE_TEST_SUITE_P(DefaultPlugin, DefaultPluginFolderTest,
                         ::testing::Values(FolderCase{"FolderWithPlugin", KeyState::FolderWithPlugin, false},
                                           FolderCase{"Absent", KeyState::Absent, true},
                                           FolderCase{"WithoutValue", KeyState::WithoutValue, true},
                                           FolderCase{"EmptyText", KeyState::EmptyText, false},
                                           FolderCase{"NoBytes", KeyState::NoBytes, true},
                                           FolderCase{"TooLong", KeyState::TooLong, true},
                                           FolderCase{"NotText", KeyState::NotText, true}),
                         [](const ::testing::TestParamInfo<FolderCase>& info) { return std::string(info.param.label); });

// The build places no plugin there: the test puts one in and takes it away.
TEST_F(DefaultPluginTest, WithoutTheKeyItLoadsFromTheZorPluginFolderBesideTheProgramsFolder)
{
    const std::wstring fallback = PluginTest::fallbackFolder();
    const bool made = CreateDirectoryW(fallback.c_str(), nullptr) != FALSE;
    const std::wstring path = PluginDouble::Control::install(fallback, L"zorplugin.dll");
    {
        AlertPluginLib host(AlertPluginLib::kDefaultProduct, nullptr, settings);
        EXPECT_EQ(MODULE_STATUS_SUCCESS, process(host));
    }
    DeleteFileW(path.c_str());
    if (made)
        RemoveDirectoryW(fallback.c_str());
    EXPECT_EQ(std::vector<std::wstring>{fallback}, loadedFrom());
    ASSERT_EQ(1u, plugin.calls(L"ProcessAlert").size());
    EXPECT_EQ(L"zorplugin.dll", plugin.calls(L"ProcessAlert").at(0).file);
}

TEST_F(DefaultPluginTest, OnlyTheExactIdIsTheDefaultProduct)
{
    PluginDouble::Control::install(folder.path(), L"zorplugin.dll");
    key.setFolder(folder.path());
    AlertPluginLib host(L"default", nullptr, settings);
    EXPECT_EQ(MODULE_STATUS_BUFFER_TOO_SMALL, process(host));
    EXPECT_EQ(1u, registrationReads(L"default"));
    EXPECT_TRUE(loadedFrom().empty());
}

} // namespace
