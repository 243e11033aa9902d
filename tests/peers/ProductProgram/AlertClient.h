#pragma once
#include "RawBusPeer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace ProductProgram {

// The product's side of the alert service's protocol on the bus: requests
// whose replies it waits for, and the outcome notices of alerts (shown,
// dismissed, failed) as they arrive. Every reply and notice is printed with
// the time since the client was made.
class AlertClient {
public:
    struct Reply {
        bool answered = false;
        std::wstring name;
        std::wstring payload;
    };

    // Throws std::runtime_error when there is no bus.
    AlertClient();

    // The next instance id; empty when the service did not answer.
    std::wstring newInstance();
    Reply show(const std::wstring& instanceId, const std::wstring& payload);
    // The alert id goes in the payload; the line printed names it too, since
    // the service's delete reply names no alert.
    Reply remove(const std::wstring& instanceId, const std::wstring& alertId, const std::wstring& payload);
    Reply queueStatus();

    // Waits until the viewer's ".Shown." answer for the instance went by (a
    // viewer publishes its replies for every subscriber too); its name, or
    // empty at the deadline.
    std::wstring waitForShown(const std::wstring& instanceId, std::chrono::seconds limit);
    // Waits until an outcome (".Dismissed." or ".Failed.") of the instance
    // arrived; its name, or empty at the deadline.
    std::wstring waitForOutcome(const std::wstring& instanceId, std::chrono::seconds limit);

    // The outcome notices so far, in the order they came.
    std::vector<std::wstring> outcomes();

    // "[  1.234 s] " for the time since the client was made.
    std::wstring stamp() const;

private:
    Reply ask(const std::wstring& name, const std::wstring& payload, const std::wstring& about = std::wstring());
    std::wstring waitForNotice(const std::wstring& instanceId, bool outcome, std::chrono::seconds limit);
    void onNotice(const BusDouble::RawBusPeer::Delivery& delivery);

    const std::chrono::steady_clock::time_point m_began = std::chrono::steady_clock::now();
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::wstring> m_notices; // shown and outcome notices, in the order they came
    uint64_t m_nextReply = 1;
    // Declared last: its deliveries use the members above.
    BusDouble::RawBusPeer m_bus;
};

} // namespace ProductProgram
