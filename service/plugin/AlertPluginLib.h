#pragma once
#include "plugin/PluginState.h"

#include "dll/SharedLibrary.h"
#include "settings/SettingsManager.h"

#include "AlertPluginApi.h"
#include "ModuleStatus.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace Kest {

// Hosts one product's plugin library: reads the product's registration (or
// locates the default plugin), loads the library through the shared-library
// loader, creates the plugin's instance and calls it under a lock, reloading
// it first whenever it is not loaded.
class AlertPluginLib {
public:
    // The product id of the default plugin, compared exactly.
    static constexpr const wchar_t* kDefaultProduct = L"DEFAULT";
    static constexpr const wchar_t* kDefaultPluginFile = L"zorplugin.dll";
    // Machine-hive key and value naming the default plugin's folder.
    static constexpr const wchar_t* kDefaultPluginKey = L"Software\\Corvane\\ZorPlugin";
    static constexpr const wchar_t* kDefaultPluginValue = L"Install Dir";
    // A product's registration is this prefix + "/" + product id.
    static constexpr const wchar_t* kProductKeyPrefix = L"Sentrel/Product";

    // Without a settings client the host takes a new one with a bus
    // connection of its own. `library` is replaced by each successful load.
    explicit AlertPluginLib(std::wstring productId, std::shared_ptr<Ostrand::SharedLibrary> library = nullptr,
                            std::shared_ptr<Ostrand::SettingsManager> settings = nullptr);
    virtual ~AlertPluginLib();
    AlertPluginLib(const AlertPluginLib&) = delete;
    AlertPluginLib& operator=(const AlertPluginLib&) = delete;

    // The plugin's status, or the reload's when the plugin could not be had.
    // `suppress` is the caller's flag; it is read whatever the status.
    virtual MODULE_STATUS processAlert(const std::wstring& alertJson, std::wstring& outJson, uint32_t* suppress,
                                       std::wstring& extra);
    virtual MODULE_STATUS getAlertContent(const std::wstring& alertJson, const std::wstring& viewerName,
                                          std::wstring& content);
    // Reads the definition, loads the library and creates the instance;
    // LOADED on success. Takes no lock: callers serialise it.
    virtual MODULE_STATUS load();
    // Destroys the instance (the library stays mapped); UNLOADED. Takes no lock.
    virtual MODULE_STATUS unload();
    virtual void setState(PluginState state);

    // The settings key of a product's registration.
    static std::wstring productKey(const std::wstring& productId);

private:
    // The folder the default plugin is loaded from.
    static std::wstring defaultPluginFolder();
    MODULE_STATUS verifyState();
    // The head of every plugin call, under the mutex: the line `intro` (product
    // and state), then the reload when one is needed.
    MODULE_STATUS readyForCall(const wchar_t* function, const wchar_t* intro);
    MODULE_STATUS createInstance();
    void destroyInstance();
    MODULE_STATUS readDefinition(std::wstring& file, std::wstring& folder);

    std::shared_ptr<Ostrand::SharedLibrary> m_library;
    ALERT_PLUGIN_INSTANCE m_instance = nullptr;
    const AlertPluginApi* m_api = nullptr;
    std::shared_ptr<Ostrand::SettingsManager> m_settings;
    PluginState m_state = PluginState::UNLOADED;
    const std::wstring m_productId;
    std::mutex m_mutex;
};

} // namespace Kest
