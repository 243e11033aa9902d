#include "viewer/ViewerRegistrar.h"

#include "message/Message.h"
#include "message/MessageBusClient.h"
#include "settings/SettingsManagerClient.h"

#include "Logging/Log.h"

#include <functional>
#include <unordered_set>

namespace Kest {

namespace {

const wchar_t kSource[] = L"ViewerRegistrar";
// Every viewer registration lives under this key, followed by "/" and the viewer id.
const wchar_t kViewerPrefix[] = L"Sentrel/Viewer";
const wchar_t kViewerSeparator = L'/';
const wchar_t kNoticeHead[] = L"Sentrel.Viewer";
const wchar_t kRegistered[] = L"Registered";
const wchar_t kUnregistered[] = L"Unregistered";

std::shared_ptr<Ostrand::MessageBus> busOrOwn(std::shared_ptr<Ostrand::MessageBus> bus)
{
    if (bus)
        return bus;
    return std::make_shared<Ostrand::MessageBusClient>();
}

std::shared_ptr<Ostrand::SettingsManager> settingsOrOwn(std::shared_ptr<Ostrand::SettingsManager> settings,
                                                        const std::shared_ptr<Ostrand::MessageBus>& bus)
{
    if (settings)
        return settings;
    return std::make_shared<Ostrand::SettingsManagerClient>(bus);
}

// One prefix query answers for every key waiting its turn. It keeps the
// settings client, and so the bus, for as long as it runs: the registrar
// may be gone by then.
KeyRecheckQueue::Lookup lookupOf(const std::shared_ptr<Ostrand::SettingsManager>& settings)
{
    return [settings](std::unordered_set<std::wstring>& held) {
        Ostrand::SettingsManager::PropertyMap found;
        if (!settings->getPropertiesByPrefix(kViewerPrefix, found, ViewerRegistrar::kSettingsTimeout)) {
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Kest::ViewerRegistrar::recheck",
                    L"Failed to read the viewer registrations again. Following the latest notice of each key.");
            return false;
        }
        for (const auto& registration : found)
            held.insert(registration.first);
        return true;
    };
}

} // namespace

ViewerRegistrar::ViewerRegistrar(std::shared_ptr<Ostrand::MessageBus> bus,
                                 std::shared_ptr<Ostrand::SettingsManager> settings)
    : m_bus(busOrOwn(std::move(bus))),
      m_settings(settingsOrOwn(std::move(settings), m_bus)),
      m_rechecks(lookupOf(m_settings), [this](const std::wstring& key, bool held) { recheck(key, held); })
{
}

ViewerRegistrar::~ViewerRegistrar()
{
    // The notices' callbacks point at this object: they must be gone first.
    try {
        stop();
    } catch (...) {
    }
}

void ViewerRegistrar::start()
{
    using namespace std::placeholders;
    // Started twice, it would hear, and announce, every change twice.
    stop();
    if (!m_settings->subscribePropertySetByPrefix(std::bind(&ViewerRegistrar::onViewerKeySet, this, _1, _2),
                                                  kViewerPrefix)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Kest::ViewerRegistrar::start",
                L"Failed to subscribe for alert viewer register operations.");
    }
    if (!m_settings->subscribePropertyDeleteByPrefix(std::bind(&ViewerRegistrar::onViewerKeyDeleted, this, _1),
                                                     kViewerPrefix)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Kest::ViewerRegistrar::start",
                L"Failed to subscribe for alert viewer unregister operations.");
    }
    m_following = true;
    // Keys that waited since the last stop are looked up again.
    m_rechecks.resume();
    loadViewers();
}

void ViewerRegistrar::stop()
{
    // Stopped once by the module and again by the destructor: the second
    // time there is nothing to remove, and the bus client would log the
    // unknown aliases.
    if (!m_following)
        return;
    m_following = false;
    m_settings->unsubscribePropertySetByPrefix(kViewerPrefix);
    m_settings->unsubscribePropertyDeleteByPrefix(kViewerPrefix);
    // The keys still waiting, and those of a lookup in flight, wait for the
    // next start: a removal among them is seen by nothing else.
    m_rechecks.pause();
}

void ViewerRegistrar::loadViewers()
{
    uint64_t loadStart = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        loadStart = m_noticeNumber;
        ++m_loadsInFlight;
    }
    // Ends the load's claim on the notice order however the load ends.
    struct LoadDone {
        ViewerRegistrar& registrar;
        ~LoadDone()
        {
            std::lock_guard<std::mutex> guard(registrar.m_lock);
            if (--registrar.m_loadsInFlight == 0)
                registrar.m_latestNotice.clear();
        }
    } done{*this};

    Ostrand::SettingsManager::PropertyMap registrations;
    if (!m_settings->getPropertiesByPrefix(kViewerPrefix, registrations, kSettingsTimeout)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Kest::ViewerRegistrar::loadViewers",
                L"Failed to retrieved registered viewers.");
    }
    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, L"Kest::ViewerRegistrar::loadViewers",
            L"Retrieved viewers from SM: %zx", registrations.size());
    for (const auto& registration : registrations) {
        const std::wstring& key = registration.first;
        ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, L"Kest::ViewerRegistrar::loadViewers",
                L"Adding Viewer to list: %s", key.c_str());
        if (!Ostrand::SettingsManagerClient::noticesMatchable(key)) {
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Kest::ViewerRegistrar::loadViewers",
                    L"Viewer key %s is too long for its change notices to reach the registrar (%zu characters, the "
                    L"bus matches up to %zu): its removal will not be seen.",
                    key.c_str(), Ostrand::SettingsManagerClient::longestNoticeName(key),
                    Ostrand::MessageBusClient::kLongestMatchedName);
        }
        if (!addViewer(key, loadStart)) {
            ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, L"Kest::ViewerRegistrar::loadViewers",
                    L"Viewer key %s changed while the list was read: its own lookup decides.", key.c_str());
        }
    }
}

void ViewerRegistrar::addViewer(const std::wstring& key)
{
    addViewer(key, UINT64_MAX);
}

bool ViewerRegistrar::addViewer(const std::wstring& key, uint64_t loadStart)
{
    std::wstring viewerId;
    if (!parseViewerId(key, viewerId)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Kest::ViewerRegistrar::addViewer",
                L"Failed to parse viewer id. Unable to add viewer. Key: %s", key.c_str());
        return true;
    }
    auto viewer = std::make_shared<AlertViewer>(viewerId, m_bus);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        const auto latest = m_latestNotice.find(key);
        if (latest != m_latestNotice.end() && latest->second > loadStart)
            return false;
        // A viewer registered again keeps the proxy that alerts may already hold.
        m_viewers.emplace(viewerId, std::move(viewer));
    }
    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, L"Kest::ViewerRegistrar::addViewer",
            L"Viewer registered: %s", viewerId.c_str());
    announce(viewerId, kRegistered);
    return true;
}

void ViewerRegistrar::removeViewer(const std::wstring& key)
{
    std::wstring viewerId;
    if (!parseViewerId(key, viewerId)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Kest::ViewerRegistrar::removeViewer",
                L"Failed to parse viewer id. Unable to remove viewer. Key: %s", key.c_str());
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_viewers.erase(viewerId);
    }
    ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, L"Kest::ViewerRegistrar::removeViewer",
            L"Viewer unregistered: %s", viewerId.c_str());
    // Announced also for a viewer never known: the registration tool waits for it.
    announce(viewerId, kUnregistered);
}

std::shared_ptr<AlertViewer> ViewerRegistrar::getViewer(const std::wstring& viewerId)
{
    if (isEmpty()) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Kest::ViewerRegistrar::getViewer",
                L"Reloading the viewers from SettingManager");
        loadViewers();
    }
    std::lock_guard<std::mutex> guard(m_lock);
    const auto found = m_viewers.find(viewerId);
    return found == m_viewers.end() ? nullptr : found->second;
}

bool ViewerRegistrar::parseViewerId(const std::wstring& key, std::wstring& viewerId)
{
    // The prefix notices and the prefix query also report keys such as
    // "Sentrel/Viewers/x", which are no viewer registration: the separator
    // must be there.
    const size_t prefixLength = std::char_traits<wchar_t>::length(kViewerPrefix);
    if (key.size() <= prefixLength || key.compare(0, prefixLength, kViewerPrefix) != 0 ||
        key[prefixLength] != kViewerSeparator)
        return false;
    viewerId = key.substr(prefixLength + 1);
    return true;
}

std::wstring ViewerRegistrar::makeViewerMessageName(const std::wstring& viewerId, const std::wstring& suffix)
{
    return std::wstring(kNoticeHead) + L"." + viewerId + L"." + suffix;
}

void ViewerRegistrar::onViewerKeySet(const std::wstring& key, const std::wstring&)
{
    onNotice(key, KeyRecheckQueue::Notice::Set);
}

void ViewerRegistrar::onViewerKeyDeleted(const std::wstring& key)
{
    onNotice(key, KeyRecheckQueue::Notice::Deleted);
}

void ViewerRegistrar::onNotice(const std::wstring& key, KeyRecheckQueue::Notice notice)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_noticeNumber;
        if (m_loadsInFlight > 0)
            m_latestNotice[key] = m_noticeNumber;
    }
    if (!m_rechecks.post(key, notice)) {
        // No thread to look with: the notice's own word is all there is.
        if (notice == KeyRecheckQueue::Notice::Set)
            addViewer(key);
        else
            removeViewer(key);
    }
}

void ViewerRegistrar::recheck(const std::wstring& key, bool held)
{
    if (held)
        addViewer(key);
    else
        removeViewer(key);
}

void ViewerRegistrar::announce(const std::wstring& viewerId, const wchar_t* suffix)
{
    // Nobody has to hear a notice: a failed publish changes nothing here.
    if (auto notice = Ostrand::Message::create(makeViewerMessageName(viewerId, suffix), L"Sentrel", L""))
        m_bus->publish(notice);
}

bool ViewerRegistrar::isEmpty()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_viewers.empty();
}

} // namespace Kest
