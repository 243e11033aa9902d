#include "plugin/AlertPluginLib.h"

#include "plugin/PluginCallGuard.h"

#include "dll/CallGuarded.h"
#include "json/JSONFormatter.h"
#include "settings/SettingsManagerClient.h"

#include "FileSystem/FileSystem.h"
#include "Logging/Log.h"
#include "Registry/CRegKey.h"

#include <chrono>
#include <exception>
#include <functional>
#include <utility>

namespace Kest {

namespace {

const wchar_t kSource[] = L"AlertPluginLib";
const std::chrono::milliseconds kSettingsTimeout(5000);
// The registry read of the default plugin's folder takes at most this many
// characters, terminator included.
const DWORD kFolderCapacity = 260;

std::shared_ptr<Ostrand::SettingsManager> settingsOrOwn(std::shared_ptr<Ostrand::SettingsManager> settings)
{
    if (settings)
        return settings;
    return std::shared_ptr<Ostrand::SettingsManager>(Ostrand::SettingsManagerClient::getInstance());
}

// A plugin may answer a table with a hole; calling through it would jump to
// address zero, so such a table counts as a refusal.
bool complete(const AlertPluginApi* api)
{
    return api && api->CreatePluginInstance && api->DestroyPluginInstance && api->ProcessAlert &&
           api->FreeProcessAlertResult && api->GetAlertContent && api->FreeAlertContent;
}

// An output the contract says is never null after success; a plugin that
// breaks that gets an empty text rather than a crash of the service.
std::wstring copyOf(const wchar_t* text)
{
    return text ? std::wstring(text) : std::wstring();
}

// Hands the plugin's outputs back to it however the copy ends.
class ReturnOnExit {
public:
    explicit ReturnOnExit(std::function<void()> free) : m_free(std::move(free)) {}
    ~ReturnOnExit() { m_free(); }
    ReturnOnExit(const ReturnOnExit&) = delete;
    ReturnOnExit& operator=(const ReturnOnExit&) = delete;

private:
    std::function<void()> m_free;
};

} // namespace

AlertPluginLib::AlertPluginLib(std::wstring productId, std::shared_ptr<Ostrand::SharedLibrary> library,
                               std::shared_ptr<Ostrand::SettingsManager> settings)
    : m_library(std::move(library)), m_settings(settingsOrOwn(std::move(settings))), m_productId(std::move(productId))
{
}

AlertPluginLib::~AlertPluginLib()
{
    // The instance goes before the library that holds its code.
    destroyInstance();
}

std::wstring AlertPluginLib::productKey(const std::wstring& productId)
{
    return std::wstring(kProductKeyPrefix) + L"/" + productId;
}

std::wstring AlertPluginLib::defaultPluginFolder()
{
    Halvex::CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kDefaultPluginKey, KEY_READ) == ERROR_SUCCESS) {
        wchar_t buffer[kFolderCapacity] = {};
        DWORD chars = kFolderCapacity;
        if (key.QueryStringValue(kDefaultPluginValue, buffer, &chars) == ERROR_SUCCESS && chars > 0)
            return std::wstring(buffer);
    }
    std::wstring hostFolder;
    Halvex::GetHostFolder(hostFolder, false);
    const size_t last = hostFolder.rfind(L'\\');
    if (last == std::wstring::npos)
        return std::wstring();
    return hostFolder.substr(0, last) + L"\\ZorPlugin";
}

MODULE_STATUS AlertPluginLib::readDefinition(std::wstring& file, std::wstring& folder)
{
    const wchar_t* function = L"Kest::AlertPluginLib::load";
    const std::wstring key = productKey(m_productId);
    // A client that could not be made at construction may be had now.
    if (!m_settings)
        m_settings = settingsOrOwn(nullptr);
    std::wstring value;
    if (!m_settings || !m_settings->getProperty(key, value, kSettingsTimeout)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                L"Failed to get pluginDefinition from settings Manager. Key %ls", key.c_str());
        return MODULE_STATUS_BUFFER_TOO_SMALL;
    }
    Ostrand::JSONFormatter definition;
    if (!definition.parse(value)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                L"Failed to parse plugin definition Key: %ls, Value: %ls. ", key.c_str(), value.c_str());
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    if (!definition.getString(L"pluginFile", file)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, L"Failed to parse pluginFile from: %ls",
                value.c_str());
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    if (!definition.getString(L"pluginPath", folder)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, L"Failed to parse pluginPath from: %ls",
                value.c_str());
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS AlertPluginLib::load()
{
    const wchar_t* function = L"Kest::AlertPluginLib::load";
    std::wstring file;
    std::wstring folder;
    if (m_productId == kDefaultProduct) {
        file = kDefaultPluginFile;
        folder = defaultPluginFolder();
        ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, function, L"Loading default plugin Name: %s, Path: %s",
                file.c_str(), folder.c_str());
    } else {
        const MODULE_STATUS read = readDefinition(file, folder);
        if (read != MODULE_STATUS_SUCCESS)
            return read;
    }

    std::shared_ptr<Ostrand::SharedLibrary> library;
    try {
        library = std::make_shared<Ostrand::SharedLibrary>(Ostrand::LibraryDescriptor{file, {folder}});
    } catch (const std::exception& error) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                L"Failed create SharedLibrary for plugin: %ls. Exception: %hs.", m_productId.c_str(), error.what());
        return MODULE_STATUS_NOT_SUPPORTED;
    }
    // An instance still alive belongs to the library held so far, which may
    // be unmapped once it is replaced: the instance goes first.
    destroyInstance();
    m_library = std::move(library);

    const MODULE_STATUS created = createInstance();
    if (created != MODULE_STATUS_SUCCESS) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, L"Failed to create alert plugin instance.");
        return created;
    }
    ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, function, L"Changing state of plugin for %ls to LOADED.",
            m_productId.c_str());
    m_state = PluginState::LOADED;
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS AlertPluginLib::createInstance()
{
    const wchar_t* function = L"Kest::AlertPluginLib::createInstance";
    const Ostrand::LibraryExports* exports = m_library ? m_library->getFunctions() : nullptr;
    const auto createObject =
        exports ? reinterpret_cast<AlertPluginCreateObjectFunction>(exports->createObject) : nullptr;
    const AlertPluginApi* api = nullptr;
    const MODULE_STATUS made = guardPluginCall(kSource, function, L"CreateObject", m_productId, [&]() -> MODULE_STATUS {
        api = createObject ? createObject(ALERT_PLUGIN_API_VERSION) : nullptr;
        return MODULE_STATUS_SUCCESS;
    });
    if (made != MODULE_STATUS_SUCCESS)
        return made;
    if (!complete(api)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, L"Failed to create object");
        return MODULE_STATUS_NOT_SUPPORTED;
    }
    m_api = api;
    ALERT_PLUGIN_INSTANCE instance = nullptr;
    bool answered = false;
    const uint32_t status =
        guardPluginCall(kSource, function, L"CreatePluginInstance", m_productId, [&]() -> MODULE_STATUS {
            const uint32_t answer = m_api->CreatePluginInstance(&instance, ALERT_PLUGIN_OBJECT_NAME);
            answered = true;
            return answer;
        });
    m_instance = instance;
    // An instance handed over before the throw is the plugin's to free; after
    // a status the plugin answered, whatever it wrote is not ours to touch.
    if (!answered && m_instance)
        destroyInstance();
    if (status != MODULE_STATUS_SUCCESS) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                L"Failed to create instance of Alert Plugin. Error code: %lu", static_cast<unsigned long>(status));
        m_instance = nullptr;
        m_api = nullptr;
        return status;
    }
    return MODULE_STATUS_SUCCESS;
}

void AlertPluginLib::destroyInstance()
{
    Ostrand::internal::callGuarded([this]() -> uint32_t {
        if (m_instance && m_api) {
            const ALERT_PLUGIN_INSTANCE instance = m_instance;
            const AlertPluginApi* api = m_api;
            const uint32_t status = guardPluginCall(
                kSource, L"Kest::AlertPluginLib::destroyInstance", L"DestroyPluginInstance", m_productId,
                [instance, api]() -> MODULE_STATUS { return api->DestroyPluginInstance(instance); });
            if (status != MODULE_STATUS_SUCCESS)
                ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Kest::AlertPluginLib::destroyInstance",
                        L"Failed to destroy alert plugin instance. Product: %ls. Error code: %lu.",
                        m_productId.c_str(), static_cast<unsigned long>(status));
        }
        m_instance = nullptr;
        m_api = nullptr;
        return MODULE_STATUS_SUCCESS;
    });
}

MODULE_STATUS AlertPluginLib::unload()
{
    destroyInstance();
    ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, L"Kest::AlertPluginLib::unload",
            L"Changing state of plugin for %ls to UNLOADED.", m_productId.c_str());
    m_state = PluginState::UNLOADED;
    return MODULE_STATUS_SUCCESS;
}

void AlertPluginLib::setState(PluginState state)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, L"Kest::AlertPluginLib::setState",
            L"Changing state of plugin for %ls to %ls.", m_productId.c_str(), pluginStateName(state));
    m_state = state;
}

MODULE_STATUS AlertPluginLib::verifyState()
{
    // LOADED without a table happens only when load was called again from
    // outside and failed after the old instance went: reload then as well.
    if (m_state == PluginState::LOADED && m_api)
        return MODULE_STATUS_SUCCESS;
    ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, L"Kest::AlertPluginLib::verifyState",
            L"Plugin for %ls is in state %ls. Attempting to reload.", m_productId.c_str(), pluginStateName(m_state));
    unload();
    return load();
}

MODULE_STATUS AlertPluginLib::readyForCall(const wchar_t* function, const wchar_t* intro)
{
    ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, function, intro, m_productId.c_str(), pluginStateName(m_state));
    const MODULE_STATUS verified = verifyState();
    if (verified != MODULE_STATUS_SUCCESS)
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, L"Failed to verify the plugin state for product: %ls",
                m_productId.c_str());
    return verified;
}

MODULE_STATUS AlertPluginLib::processAlert(const std::wstring& alertJson, std::wstring& outJson, uint32_t* suppress,
                                           std::wstring& extra)
{
    const wchar_t* function = L"Kest::AlertPluginLib::processAlert";
    if (!suppress) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, L"Invalid suppress flag specified. Returning.");
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const MODULE_STATUS ready = readyForCall(function, L"Processing alert. Plugin for %ls in state %ls.");
    if (ready != MODULE_STATUS_SUCCESS)
        return ready;

    wchar_t* json = nullptr;
    wchar_t* more = nullptr;
    // The caller reads the flag whatever the status the plugin answered; a
    // call that threw, from either of its entries, set nothing it can stand
    // by, so the flag then keeps what it held on entry.
    uint32_t flag = *suppress;
    const AlertPluginApi* api = m_api;
    const ALERT_PLUGIN_INSTANCE instance = m_instance;
    bool answered = false;
    const uint32_t status = guardPluginCall(kSource, function, L"ProcessAlert", m_productId, [&]() -> MODULE_STATUS {
        const uint32_t answer = api->ProcessAlert(instance, alertJson.c_str(), &json, &flag, &more);
        answered = true;
        return answer;
    });
    if (!answered) {
        // Outputs handed over before the throw go back to the plugin.
        if (json || more)
            guardPluginCall(kSource, function, L"FreeProcessAlertResult", m_productId, [&]() -> MODULE_STATUS {
                api->FreeProcessAlertResult(json, more);
                return MODULE_STATUS_SUCCESS;
            });
        return status;
    }
    if (status != MODULE_STATUS_SUCCESS) {
        *suppress = flag;
        return status;
    }
    std::wstring jsonText;
    std::wstring extraText;
    MODULE_STATUS freed = MODULE_STATUS_SUCCESS;
    {
        ReturnOnExit handBack([&] {
            freed = guardPluginCall(kSource, function, L"FreeProcessAlertResult", m_productId, [&]() -> MODULE_STATUS {
                api->FreeProcessAlertResult(json, more);
                return MODULE_STATUS_SUCCESS;
            });
        });
        jsonText = copyOf(json);
        extraText = copyOf(more);
    }
    if (freed != MODULE_STATUS_SUCCESS)
        return freed;
    *suppress = flag;
    outJson = std::move(jsonText);
    extra = std::move(extraText);
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS AlertPluginLib::getAlertContent(const std::wstring& alertJson, const std::wstring& viewerName,
                                              std::wstring& content)
{
    const wchar_t* function = L"Kest::AlertPluginLib::getAlertContent";
    std::lock_guard<std::mutex> lock(m_mutex);
    const MODULE_STATUS ready = readyForCall(function, L"Getting alert content. Plugin for %ls in state %ls.");
    if (ready != MODULE_STATUS_SUCCESS)
        return ready;

    wchar_t* text = nullptr;
    const AlertPluginApi* api = m_api;
    const ALERT_PLUGIN_INSTANCE instance = m_instance;
    bool answered = false;
    const uint32_t status = guardPluginCall(kSource, function, L"GetAlertContent", m_productId, [&]() -> MODULE_STATUS {
        const uint32_t answer = api->GetAlertContent(instance, alertJson.c_str(), viewerName.c_str(), &text);
        answered = true;
        return answer;
    });
    if (!answered && text) {
        // Content handed over before the throw goes back to the plugin.
        guardPluginCall(kSource, function, L"FreeAlertContent", m_productId, [&]() -> MODULE_STATUS {
            api->FreeAlertContent(text);
            return MODULE_STATUS_SUCCESS;
        });
    }
    if (status != MODULE_STATUS_SUCCESS)
        return status;
    std::wstring contentText;
    MODULE_STATUS freed = MODULE_STATUS_SUCCESS;
    {
        ReturnOnExit handBack([&] {
            freed = guardPluginCall(kSource, function, L"FreeAlertContent", m_productId, [&]() -> MODULE_STATUS {
                api->FreeAlertContent(text);
                return MODULE_STATUS_SUCCESS;
            });
        });
        contentText = copyOf(text);
    }
    if (freed != MODULE_STATUS_SUCCESS)
        return freed;
    content = std::move(contentText);
    return MODULE_STATUS_SUCCESS;
}

} // namespace Kest
