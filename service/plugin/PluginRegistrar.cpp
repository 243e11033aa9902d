#include "plugin/PluginRegistrar.h"

#include "plugin/AlertPluginLib.h"
#include "plugin/PluginCallGuard.h"
#include "settings/SettingsManagerClient.h"
#include "telemetry/AlertTelemetry.h"

#include <functional>
#include <utility>

namespace Kest {

namespace {

const wchar_t kSource[] = L"PluginRegistrar";

std::shared_ptr<Ostrand::SettingsManager> settingsOrOwn(std::shared_ptr<Ostrand::SettingsManager> settings)
{
    if (settings)
        return settings;
    return std::make_shared<Ostrand::SettingsManagerClient>();
}

} // namespace

PluginRegistrar::PluginRegistrar(std::shared_ptr<Ostrand::SettingsManager> settings)
    : m_settings(settingsOrOwn(std::move(settings))), m_lifeline(std::make_shared<Lifeline>())
{
    m_lifeline->owner = this;
}

PluginRegistrar::~PluginRegistrar()
{
    stop();
    // The subscription may outlive this object in a shared bus client, and a
    // notice may be running right now.
    std::lock_guard<std::mutex> lock(m_lifeline->mutex);
    m_lifeline->owner = nullptr;
}

void PluginRegistrar::start()
{
    std::weak_ptr<Lifeline> lifeline = m_lifeline;
    m_settings->subscribePropertyDeleteByPrefix(
        [lifeline](const std::wstring& key) {
            const std::shared_ptr<Lifeline> held = lifeline.lock();
            if (!held)
                return;
            std::lock_guard<std::mutex> lock(held->mutex);
            if (held->owner)
                held->owner->onProductKeyDeleted(key);
        },
        AlertPluginLib::kProductKeyPrefix);
}

void PluginRegistrar::stop()
{
    m_settings->unsubscribePropertyDeleteByPrefix(AlertPluginLib::kProductKeyPrefix);
}

MODULE_STATUS PluginRegistrar::processAlert(const std::wstring& productId, const std::wstring& alertJson,
                                            std::wstring& outJson, uint32_t* suppress, std::wstring& extra)
{
    return callPlugin(L"Kest::PluginRegistrar::processAlert", L"Kest::AlertPluginLib::processAlert", productId,
                      [&](AlertPluginLib& plugin) { return plugin.processAlert(alertJson, outJson, suppress, extra); });
}

MODULE_STATUS PluginRegistrar::getAlertContent(const std::wstring& productId, const std::wstring& alertJson,
                                               const std::wstring& viewerName, std::wstring& content)
{
    return callPlugin(L"Kest::PluginRegistrar::getAlertContent", L"Kest::AlertPluginLib::getAlertContent", productId,
                      [&](AlertPluginLib& plugin) { return plugin.getAlertContent(alertJson, viewerName, content); });
}

MODULE_STATUS PluginRegistrar::callPlugin(const wchar_t* function, const wchar_t* callee,
                                          const std::wstring& productId,
                                          const std::function<MODULE_STATUS(AlertPluginLib&)>& call)
{
    // Finding or loading the plugin may fail in ways nobody answers for: a
    // settings client that cannot open its bus connection throws. Each step
    // is guarded on its own, so that the line names the one that threw.
    std::unique_lock<std::mutex> lock;
    std::shared_ptr<AlertPluginLib> plugin;
    const MODULE_STATUS found =
        guardPluginCall(kSource, function, L"Kest::PluginRegistrar::getPlugin", productId, [&]() -> MODULE_STATUS {
            lock = std::unique_lock<std::mutex>(m_mutex);
            plugin = getPlugin(productId);
            return MODULE_STATUS_SUCCESS;
        });
    if (found != MODULE_STATUS_SUCCESS)
        return found;
    if (!plugin)
        return MODULE_STATUS_BUFFER_TOO_SMALL;
    return guardPluginCall(kSource, function, callee, productId, [&]() -> MODULE_STATUS { return call(*plugin); });
}

std::shared_ptr<AlertPluginLib> PluginRegistrar::getPlugin(const std::wstring& productId)
{
    const auto cached = m_plugins.find(productId);
    if (cached != m_plugins.end())
        return cached->second;

    auto plugin = std::make_shared<AlertPluginLib>(productId);
    const MODULE_STATUS status = plugin->load();
    if (status == MODULE_STATUS_SUCCESS) {
        m_plugins.emplace(productId, plugin);
        return plugin;
    }
    AlertTelemetry::sendPluginFailed(productId, status);
    plugin.reset();
    if (productId == AlertPluginLib::kDefaultProduct)
        return nullptr;
    return getPlugin(AlertPluginLib::kDefaultProduct);
}

void PluginRegistrar::onProductKeyDeleted(const std::wstring& key)
{
    const size_t slash = key.rfind(L'/');
    const std::wstring productId = slash == std::wstring::npos ? key : key.substr(slash + 1);
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto cached = m_plugins.find(productId);
    if (cached != m_plugins.end())
        cached->second->setState(PluginState::INVALIDATED);
}

} // namespace Kest
