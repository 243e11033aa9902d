#pragma once
// What the registrar's tests share: the log file, a settings service and a
// watcher of the viewer notices on the bus double, a settings client that
// writes registrations as the registration tool does, and a bus that fails.
#include "LogFile.h"
#include "Logging/CLoggingIf.h"
#include "RawBusPeer.h"
#include "SettingsServicePeer.h"

#include "message/MessageBusClient.h"
#include "settings/SettingsManagerClient.h"
#include "viewer/ViewerRegistrar.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ViewerRegTest {

const std::chrono::milliseconds kTimeout(30000);
// The bus double's time scale while the settings service is silent: the
// registrar's 30 s are 1.5 s. Answered requests keep their real time.
const double kScale = 0.05;

class RegistrarFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    static BusDouble::BusDoubleControl& control() { return BusDouble::RawBusPeer::control(); }

    // A line of the registrar's source file at `level` from the function
    // "Kest::ViewerRegistrar::" + `function` holding `text`.
    bool logged(uint32_t level, const std::wstring& function, const std::wstring& text) const;
    size_t lineCount(uint32_t level, const std::wstring& function, const std::wstring& text) const;
    // Lines whose text is exactly `text`.
    size_t exactLines(uint32_t level, const std::wstring& function, const std::wstring& text) const;

    // Waits until `count` viewer notices arrived in all, then for stragglers;
    // returns every notice so far, sorted by name.
    std::vector<BusDouble::RawBusPeer::Delivery> notices(size_t count);
    std::vector<std::wstring> noticeNames(size_t count);

    // How often the bus double handed a message of that name to a subscriber.
    static size_t deliveries(const std::wstring& name);

    // Registers or unregisters a viewer as the registration tool does.
    void registerKey(const std::wstring& key);
    void unregisterKey(const std::wstring& key);
    size_t queries() { return peer.requests(SettingsPeer::SettingsService::kGetProperties).size(); }

    // Declared first: nothing in the process may log before it.
    TestSupport::LogFile log;
    SettingsPeer::SettingsServicePeer peer;
    SettingsPeer::SettingsService& service = peer.service();
    BusDouble::RawBusPeer watcher;
    std::shared_ptr<Ostrand::MessageBusClient> bus = std::make_shared<Ostrand::MessageBusClient>();
    // The registrar makes its settings client over its own bus.
    std::unique_ptr<Kest::ViewerRegistrar> registrar = std::make_unique<Kest::ViewerRegistrar>(bus);

private:
    std::shared_ptr<Ostrand::SettingsManager> m_tool =
        std::make_shared<Ostrand::SettingsManagerClient>(std::make_shared<Ostrand::MessageBusClient>());
    std::vector<BusDouble::RawBusPeer::Delivery> m_notices;
};

// A bus on which every subscription and request fails; it keeps what was
// published and unsubscribed.
class FailingBus : public Ostrand::MessageBus {
public:
    std::vector<std::shared_ptr<Ostrand::Message>> published();
    std::vector<std::wstring> unsubscribed();

    MODULE_STATUS publish(const std::shared_ptr<Ostrand::Message> message) override;
    MODULE_STATUS publishEx(const std::shared_ptr<Ostrand::Message> message) override { return publish(message); }
    MODULE_STATUS request(const std::shared_ptr<Ostrand::Message>, ReplyCallback,
                          const std::chrono::milliseconds&) override { return MODULE_STATUS_NO_SUBSCRIBERS; }
    MODULE_STATUS request(const std::shared_ptr<Ostrand::Message>, std::shared_ptr<Ostrand::Reply>&,
                          const std::chrono::milliseconds&) override { return MODULE_STATUS_NO_SUBSCRIBERS; }
    MODULE_STATUS requestEx(const std::shared_ptr<Ostrand::Message>, ReplyCallback,
                            const std::chrono::milliseconds&) override { return MODULE_STATUS_NO_SUBSCRIBERS; }
    MODULE_STATUS requestEx(const std::shared_ptr<Ostrand::Message>, std::shared_ptr<Ostrand::Reply>&,
                            const std::chrono::milliseconds&) override { return MODULE_STATUS_NO_SUBSCRIBERS; }
    MODULE_STATUS subscribe(const std::wstring&, const std::wstring&, Callback) override { return kRefused; }
    MODULE_STATUS subscribe(const std::wstring&, Callback) override { return kRefused; }
    MODULE_STATUS subscribeSession(const std::wstring&, const std::wstring&, Callback) override { return kRefused; }
    MODULE_STATUS subscribeSession(const std::wstring&, Callback) override { return kRefused; }
    MODULE_STATUS subscribeFilter(const std::wstring&, const std::wstring&, Callback) override { return kRefused; }
    MODULE_STATUS subscribeFilter(const std::wstring&, Callback) override { return kRefused; }
    MODULE_STATUS subscribeFilterSession(const std::wstring&, const std::wstring&, Callback) override
    {
        return kRefused;
    }
    MODULE_STATUS subscribeFilterSession(const std::wstring&, Callback) override { return kRefused; }
    MODULE_STATUS unsubscribe(const std::wstring& alias) override;

private:
    static constexpr MODULE_STATUS kRefused = MODULE_STATUS_UNSUCCESSFUL;
    std::mutex m_lock;
    std::vector<std::shared_ptr<Ostrand::Message>> m_published;
    std::vector<std::wstring> m_unsubscribed;
};

} // namespace ViewerRegTest
