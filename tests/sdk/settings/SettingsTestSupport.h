#pragma once
// What the settings tests share: a settings service on the bus double, a
// client over a bus client of its own, the log file, a bus that answers
// from a script, and JSON payloads compared as parsed values.
#include "LogFile.h"
#include "SettingsServicePeer.h"

#include "message/MessageBusClient.h"
#include "settings/SettingsManagerClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

namespace SettingsTest {

// What every caller of the settings client passes.
const std::chrono::milliseconds kTimeout(5000);
// The bus double's time scale while the service is silent: the 5 s of a call
// are one real second. Requests that get an answer keep their real time.
const double kScale = 0.2;

class SettingsFixture : public ::testing::Test {
protected:
    void SetUp() override;
    // A failed test shows what the process logged.
    void TearDown() override;
    static BusDouble::BusDoubleControl& control() { return BusDouble::RawBusPeer::control(); }

    // Lines of the client's source file: at `level` from `function` holding `text`.
    size_t lines(uint32_t level, const std::wstring& function, const std::wstring& text) const;
    // Every warning or error the client wrote.
    size_t clientLines() const;

    // Declared first: nothing in the process may log before it.
    TestSupport::LogFile log;
    SettingsPeer::SettingsServicePeer peer;
    SettingsPeer::SettingsService& service = peer.service();
    std::shared_ptr<Ostrand::MessageBusClient> bus = std::make_shared<Ostrand::MessageBusClient>();
    std::shared_ptr<Ostrand::SettingsManager> settings = std::make_shared<Ostrand::SettingsManagerClient>(bus);
};

// A bus whose requests answer from a script: the request status, then a
// reply stuck at the given status (with the message, if any).
class ScriptedBus : public Ostrand::MessageBus {
public:
    uint32_t requestStatus = 0;
    bool giveReply = true;
    int32_t replyStatus = Ostrand::Reply::Received;
    std::shared_ptr<Ostrand::Message> replyMessage;
    std::vector<std::shared_ptr<Ostrand::Message>> sent;

    MODULE_STATUS publish(const std::shared_ptr<Ostrand::Message>) override { return 0; }
    MODULE_STATUS publishEx(const std::shared_ptr<Ostrand::Message>) override { return 0; }
    MODULE_STATUS request(const std::shared_ptr<Ostrand::Message>, ReplyCallback,
                          const std::chrono::milliseconds&) override { return MODULE_STATUS_NOT_SUPPORTED; }
    MODULE_STATUS request(const std::shared_ptr<Ostrand::Message> message, std::shared_ptr<Ostrand::Reply>& reply,
                          const std::chrono::milliseconds& timeout) override;
    MODULE_STATUS requestEx(const std::shared_ptr<Ostrand::Message>, ReplyCallback,
                            const std::chrono::milliseconds&) override { return MODULE_STATUS_NOT_SUPPORTED; }
    MODULE_STATUS requestEx(const std::shared_ptr<Ostrand::Message> message, std::shared_ptr<Ostrand::Reply>& reply,
                            const std::chrono::milliseconds& timeout) override
    {
        return request(message, reply, timeout);
    }
    MODULE_STATUS subscribe(const std::wstring&, const std::wstring&, Callback) override { return 0; }
    MODULE_STATUS subscribe(const std::wstring&, Callback) override { return 0; }
    MODULE_STATUS subscribeSession(const std::wstring&, const std::wstring&, Callback) override { return 0; }
    MODULE_STATUS subscribeSession(const std::wstring&, Callback) override { return 0; }
    MODULE_STATUS subscribeFilter(const std::wstring&, const std::wstring&, Callback) override { return 0; }
    MODULE_STATUS subscribeFilter(const std::wstring&, Callback) override { return 0; }
    MODULE_STATUS subscribeFilterSession(const std::wstring&, const std::wstring&, Callback) override { return 0; }
    MODULE_STATUS subscribeFilterSession(const std::wstring&, Callback) override { return 0; }
    MODULE_STATUS unsubscribe(const std::wstring&) override { return 0; }
};

// Two payloads hold the same JSON value; arrays under `unorderedArray`
// ("properties" or "responses") may list their elements in any order.
::testing::AssertionResult sameJson(const std::wstring& expected, const std::wstring& actual,
                                    const wchar_t* unorderedArray = nullptr);

} // namespace SettingsTest
