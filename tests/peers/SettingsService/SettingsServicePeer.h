#pragma once
// The settings service as a participant on the bus library double: answers
// the settings requests from its store, publishes the change notices after
// each answer, and keeps a record of every request it received.
#include "SettingsService.h"

#include "RawBusPeer.h"

#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace SettingsPeer {

class SettingsServicePeer {
public:
    struct Request {
        std::wstring name;
        std::wstring payload;
        bool expectsReply = false;
    };

    // Opens its own connection on the bus library beside the program and
    // subscribes the request names; throws std::runtime_error without one.
    explicit SettingsServicePeer(std::shared_ptr<SettingsService> service = nullptr);
    ~SettingsServicePeer();
    SettingsServicePeer(const SettingsServicePeer&) = delete;
    SettingsServicePeer& operator=(const SettingsServicePeer&) = delete;

    SettingsService& service() { return *m_service; }

    // Answers leave this long (real time) after their request arrived; the
    // notices of a change still go out at once.
    void setReplyDelay(std::chrono::milliseconds delay);
    // The answers still waiting out their delay leave now; later requests
    // keep the delay that is set.
    void releaseLateReplies();

    std::vector<Request> requests();
    std::vector<Request> requests(const std::wstring& name);

private:
    void onDelivery(BusDouble::RawBusPeer& bus, const BusDouble::RawBusPeer::Delivery& delivery);
    void answerLater(const BusDouble::RawBusPeer::Delivery& request, const std::wstring& name,
                     const std::wstring& payload, std::chrono::milliseconds delay);

    std::shared_ptr<SettingsService> m_service;
    std::mutex m_lock;
    std::condition_variable m_stopping;
    bool m_stop = false;
    std::chrono::milliseconds m_delay{0};
    uint64_t m_releases = 0;
    std::vector<Request> m_requests;
    std::vector<std::thread> m_late;
    // Declared last: its connection goes first, before the state its deliveries use.
    std::unique_ptr<BusDouble::RawBusPeer> m_bus;
};

} // namespace SettingsPeer
