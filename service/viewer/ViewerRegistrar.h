#pragma once
#include "message/MessageBus.h"
#include "settings/SettingsManager.h"
#include "viewer/AlertViewer.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace Kest {

// The service's list of registered viewers, kept in step with the viewer
// registrations in the settings service; every addition and removal is
// announced on the bus.
class ViewerRegistrar {
public:
    static constexpr std::chrono::milliseconds kSettingsTimeout{30000};

    // Without a bus the registrar opens a connection of its own; without a
    // settings client it makes one over its bus.
    explicit ViewerRegistrar(std::shared_ptr<Ostrand::MessageBus> bus = nullptr,
                             std::shared_ptr<Ostrand::SettingsManager> settings = nullptr);
    // Stops following the registrations first.
    virtual ~ViewerRegistrar();
    ViewerRegistrar(const ViewerRegistrar&) = delete;
    ViewerRegistrar& operator=(const ViewerRegistrar&) = delete;

    // The proxy of a registered viewer, empty when the id is not registered.
    // An empty list is reloaded from the settings service first.
    virtual std::shared_ptr<AlertViewer> getViewer(const std::wstring& viewerId);

    void start();
    void stop();
    void loadViewers();
    void addViewer(const std::wstring& key);
    void removeViewer(const std::wstring& key);

    static bool parseViewerId(const std::wstring& key, std::wstring& viewerId);
    static std::wstring makeViewerMessageName(const std::wstring& viewerId, const std::wstring& suffix);

private:
    void onViewerKeySet(const std::wstring& key, const std::wstring& value);
    void onViewerKeyDeleted(const std::wstring& key);
    void announce(const std::wstring& viewerId, const wchar_t* suffix);
    bool isEmpty();

    // Guards only the map: queries, proxies and notices stay outside it.
    std::mutex m_lock;
    std::unordered_map<std::wstring, std::shared_ptr<AlertViewer>> m_viewers;
    const std::shared_ptr<Ostrand::MessageBus> m_bus;
    const std::shared_ptr<Ostrand::SettingsManager> m_settings;
    // Between start and stop; both run on the host's thread.
    bool m_following = false;
};

} // namespace Kest
