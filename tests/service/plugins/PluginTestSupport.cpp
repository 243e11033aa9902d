#include "PluginTestSupport.h"

#include "TestNames.h"

#include "json/JSONFormatter.h"
#include "message/MessageBusClient.h"
#include "plugin/AlertPluginLib.h"
#include "settings/SettingsManagerClient.h"

#include <windows.h>

#include <iostream>
#include <thread>

namespace PluginTest {

void PluginFixture::SetUp()
{
    ASSERT_TRUE(log.ready());
}

std::shared_ptr<Ostrand::SettingsManager> PluginFixture::makeSettings()
{
    return std::make_shared<Ostrand::SettingsManagerClient>(std::make_shared<Ostrand::MessageBusClient>());
}

void PluginFixture::TearDown()
{
    if (!HasFailure())
        return;
    for (const TestSupport::LogLine& line : log.lines())
        std::cout << TestSupport::narrow(line.level + L" " + line.file + L" " + line.function + L": " + line.text)
                  << "\n";
    for (const PluginDouble::Entry& entry : plugin.journal())
        std::cout << TestSupport::narrow(L"plugin " + entry.file + L" " + entry.call + L" " + entry.details) << "\n";
}

std::wstring PluginFixture::registration(const std::wstring& folder, const std::wstring& file)
{
    Ostrand::JSONFormatter json;
    json.setString(L"pluginPath", folder);
    json.setString(L"pluginFile", file);
    return json.toString();
}

std::wstring PluginFixture::registerPlugin(const std::wstring& productId, const TestSupport::ScratchFolder& in,
                                           const std::wstring& file)
{
    const std::wstring path = PluginDouble::Control::install(in.path(), file);
    peer.service().seed(Kest::AlertPluginLib::productKey(productId), registration(in.path(), file));
    return path;
}

size_t PluginFixture::hostLines(uint32_t level, const std::wstring& function, const std::wstring& text) const
{
    TestSupport::LogQuery query;
    query.level = level;
    query.file = L"AlertPluginLib";
    query.function = function;
    query.text = text;
    return log.find(query).size();
}

bool PluginFixture::waitForHostLine(uint32_t level, const std::wstring& text, std::chrono::milliseconds timeout) const
{
    return TestSupport::waitUntil([&] { return hostLines(level, L"", text) != 0; }, timeout);
}

size_t PluginFixture::registrationReads(const std::wstring& productId)
{
    const std::wstring key = Kest::AlertPluginLib::productKey(productId);
    size_t reads = 0;
    for (const auto& request : peer.requests(SettingsPeer::SettingsService::kGetProperty))
        if (request.payload.find(L"\"" + key + L"\"") != std::wstring::npos)
            ++reads;
    return reads;
}

DefaultPluginKey::DefaultPluginKey()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, Kest::AlertPluginLib::kDefaultPluginKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, Kest::AlertPluginLib::kDefaultPluginKey);
}

DefaultPluginKey::~DefaultPluginKey()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, Kest::AlertPluginLib::kDefaultPluginKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, Kest::AlertPluginLib::kDefaultPluginKey);
}

void DefaultPluginKey::create() const
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, Kest::AlertPluginLib::kDefaultPluginKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) == ERROR_SUCCESS)
        RegCloseKey(key);
}

void DefaultPluginKey::setRaw(DWORD type, const void* data, DWORD size) const
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, Kest::AlertPluginLib::kDefaultPluginKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, Kest::AlertPluginLib::kDefaultPluginValue, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void DefaultPluginKey::setFolder(const std::wstring& folder) const
{
    setRaw(REG_SZ, folder.c_str(), static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
}

std::wstring fallbackFolder()
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring program(path, length <= MAX_PATH ? length : 0);
    const std::wstring folder = program.substr(0, program.rfind(L'\\'));
    return folder.substr(0, folder.rfind(L'\\')) + L"\\ZorPlugin";
}

} // namespace PluginTest
