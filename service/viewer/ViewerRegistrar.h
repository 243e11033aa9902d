#pragma once
#include "message/MessageBus.h"
#include "settings/SettingsManager.h"
#include "viewer/AlertViewer.h"
#include "viewer/KeyRecheckQueue.h"

#include <chrono>
#include <cstdint>
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

    virtual void start();
    virtual void stop();
    void loadViewers();
    void addViewer(const std::wstring& key);
    void removeViewer(const std::wstring& key);

    static bool parseViewerId(const std::wstring& key, std::wstring& viewerId);
    static std::wstring makeViewerMessageName(const std::wstring& viewerId, const std::wstring& suffix);

private:
    // A notice is taken as "look at this key again": the store's answer,
    // asked after the notice came, is what the list follows.
    void onViewerKeySet(const std::wstring& key, const std::wstring& value);
    void onViewerKeyDeleted(const std::wstring& key);
    void onNotice(const std::wstring& key, KeyRecheckQueue::Notice notice);
    // A key's lookup found it held (added) or not (removed).
    void recheck(const std::wstring& key, bool held);
    // Adds the viewer unless a notice of its key came after `loadStart`
    // (a load's answer is older than that notice; the key's own lookup
    // decides). False when it was not added for that reason.
    bool addViewer(const std::wstring& key, uint64_t loadStart);
    void announce(const std::wstring& viewerId, const wchar_t* suffix);
    bool isEmpty();

    // Guards the map and the notice order below: queries, proxies and
    // notices stay outside it.
    std::mutex m_lock;
    std::unordered_map<std::wstring, std::shared_ptr<AlertViewer>> m_viewers;
    // Every notice takes the next number. While a load is in flight the
    // number of each key's latest notice is kept, so that the load's answer
    // never undoes a change that came after the load asked.
    uint64_t m_noticeNumber = 0;
    unsigned m_loadsInFlight = 0;
    std::unordered_map<std::wstring, uint64_t> m_latestNotice;
    const std::shared_ptr<Ostrand::MessageBus> m_bus;
    const std::shared_ptr<Ostrand::SettingsManager> m_settings;
    // Between start and stop; both run on the host's thread.
    bool m_following = false;
    // Last, so gone first: its turns call into everything above. Its lookups
    // hold their own reference to the settings client and are never waited for.
    KeyRecheckQueue m_rechecks;
};

} // namespace Kest
