#pragma once
// What the broker knows: the open connections, their subscriptions and the
// requests waiting for a reply. It routes between connections as the bus
// library double routes between handles inside one process.
#include "BrokerFrame.h"
#include "BrokerPipe.h"
#include "BrokerSession.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace BusBroker {

class BrokerRouter {
public:
    BrokerRouter();
    ~BrokerRouter();
    BrokerRouter(const BrokerRouter&) = delete;
    BrokerRouter& operator=(const BrokerRouter&) = delete;

    // Takes a connected pipe and serves it until it ends.
    void serve(std::unique_ptr<BrokerPipe> pipe);

private:
    using Clock = std::chrono::steady_clock;
    using SubscriptionKey = std::pair<uint64_t, uint64_t>; // session, the client's id

    struct Subscription {
        std::wstring text;
        bool pattern = false;
        std::wregex regex;
    };
    struct Pending {
        uint64_t session = 0;
        uint64_t token = 0;
    };

    bool onFrame(BrokerSession& session, const Frame& frame);
    void onEnd(BrokerSession& session, const char* reason);

    // All of these expect m_lock held.
    bool subscribe(BrokerSession& session, const Frame& frame);
    bool unsubscribe(BrokerSession& session, const Frame& frame);
    void publish(BrokerSession& session, const Frame& frame);
    void request(BrokerSession& session, const Frame& frame);
    std::vector<SubscriptionKey> matching(const std::wstring& name) const;
    void deliver(const std::vector<SubscriptionKey>& targets, const Frame& message);
    void sendTo(uint64_t session, const Envelope& envelope, const MessageWireHeader& header, const std::wstring& name,
                const std::wstring& source, const std::wstring& payload);
    void acknowledge(BrokerSession& session, uint64_t sequence, uint32_t status);

    void runTimers();

    std::mutex m_lock;
    std::map<uint64_t, std::shared_ptr<BrokerSession>> m_sessions;
    std::map<SubscriptionKey, Subscription> m_subscriptions;
    std::map<uint64_t, Pending> m_pending; // by message id
    std::multimap<Clock::time_point, uint64_t> m_deadlines;
    std::condition_variable m_deadlinesChanged;
    bool m_stopping = false;
    uint64_t m_nextSession = 0;
    uint64_t m_nextMessageId = 0;
    std::thread m_timers;
};

} // namespace BusBroker
