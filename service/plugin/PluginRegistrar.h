#pragma once
#include "settings/SettingsManager.h"

#include "ModuleStatus.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace Kest {

class AlertPluginLib;

// The service's single entry to product plugins: finds or loads a product's
// plugin (the default plugin when it cannot be loaded) and runs one plugin
// call at a time.
class PluginRegistrar {
public:
    // Without a settings client the registrar makes one that opens its own
    // bus connection.
    explicit PluginRegistrar(std::shared_ptr<Ostrand::SettingsManager> settings = nullptr);
    virtual ~PluginRegistrar();
    PluginRegistrar(const PluginRegistrar&) = delete;
    PluginRegistrar& operator=(const PluginRegistrar&) = delete;

    virtual void start();
    virtual void stop();
    // MODULE_STATUS_BUFFER_TOO_SMALL when no plugin can be had; otherwise the
    // plugin's own status. `suppress` is read by the caller whatever the status.
    virtual MODULE_STATUS processAlert(const std::wstring& productId, const std::wstring& alertJson,
                                       std::wstring& outJson, uint32_t* suppress, std::wstring& extra);
    virtual MODULE_STATUS getAlertContent(const std::wstring& productId, const std::wstring& alertJson,
                                          const std::wstring& viewerName, std::wstring& content);

private:
    // Deletion notices hold this weakly and run only while the registrar
    // lives; its destructor waits for a notice that is running.
    struct Lifeline {
        std::mutex mutex;
        PluginRegistrar* owner = nullptr;
    };

    // Runs `call` on the product's host under m_mutex; `function` logs,
    // `callee` names the host's operation should it throw.
    MODULE_STATUS callPlugin(const wchar_t* function, const wchar_t* callee, const std::wstring& productId,
                             const std::function<MODULE_STATUS(AlertPluginLib&)>& call);
    // The product's host, loaded; the default plugin's when the product's
    // cannot be loaded; none when neither can. Called with m_mutex held.
    std::shared_ptr<AlertPluginLib> getPlugin(const std::wstring& productId);
    // `key` is the full settings key of a deleted registration.
    void onProductKeyDeleted(const std::wstring& key);

    std::shared_ptr<Ostrand::SettingsManager> m_settings;
    std::mutex m_mutex;
    std::unordered_map<std::wstring, std::shared_ptr<AlertPluginLib>> m_plugins;
    std::shared_ptr<Lifeline> m_lifeline;
};

} // namespace Kest
