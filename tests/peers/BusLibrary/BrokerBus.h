#pragma once
#include "BrokerFrame.h"
#include "BrokerPipe.h"
#include "DeliveryPool.h"

#include "MessageBusFunctions.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>

namespace BusDouble {

// The bus table's connections that go through a broker in another process:
// the same calls and callbacks as the in-process bus, with the routing done
// by the broker. Each connection is one pipe with a reading thread, and its
// own delivery threads for messages and for replies. The in-process bus's
// time scale and getHandle status apply here too; its reply modes, version-1
// deliveries and journal do not.
class BrokerBus {
public:
    static BrokerBus& instance();

    // The broker pipe named by ONDREL_BROKER_PIPE; empty when unset.
    static std::wstring configuredPipe();

    bool owns(void* handle) const;
    uint32_t openConnections() const;
    uint32_t pendingRequests() const;

    MODULE_STATUS getHandle(void** handle, const std::wstring& pipe);
    MODULE_STATUS release(void* handle);
    MODULE_STATUS publish(void* handle, const MessageWireHeader* header, const wchar_t* name, const wchar_t* source,
                          const wchar_t* payload);
    MODULE_STATUS request(void* handle, uint64_t replyIndex, void* context, MessageBusReplyCallback callback,
                          const MessageWireHeader* header, const wchar_t* name, const wchar_t* source,
                          const wchar_t* payload, uint64_t timeoutMs);
    uint32_t subscribe(void* handle, void* context, MessageBusSubscriptionCallback callback, const wchar_t* text,
                       bool pattern);
    MODULE_STATUS unsubscribe(void* handle, uint32_t id);
    MODULE_STATUS detachReplyCallback(void* handle, MessageBusReplyCallback callback);

private:
    struct Subscription {
        void* context = nullptr;
        MessageBusSubscriptionCallback callback = nullptr;
        bool active = true;
        std::multiset<std::thread::id> running;
    };
    struct PendingRequest {
        uint64_t replyIndex = 0;
        void* context = nullptr;
        MessageBusReplyCallback callback = nullptr;
        bool acknowledged = false; // the broker took the request
    };
    struct Connection {
        std::unique_ptr<BusBroker::BrokerPipe> pipe;
        BusBroker::OwnedHandle stop;
        std::mutex writeLock;
        std::thread reader;
        bool closed = false;
        bool lost = false; // the broker went away or sent nonsense
        std::map<uint32_t, std::shared_ptr<Subscription>> subscriptions;
        std::map<uint64_t, PendingRequest> pending; // by request token
        std::map<uint64_t, uint32_t> answers;       // acknowledgements by call sequence
        std::map<uint64_t, uint64_t> requestCalls;  // request tokens by call sequence
        std::set<MessageBusReplyCallback> detached;
        uint64_t nextToken = 0;
        std::unique_ptr<DeliveryPool> messages;
        std::unique_ptr<DeliveryPool> replies;
    };
    using RunningReply = std::tuple<Connection*, MessageBusReplyCallback, std::thread::id>;

    BrokerBus() = default;

    // Expects m_lock held.
    std::shared_ptr<Connection> connectionOf(void* handle) const;
    // Writes one frame; false when the connection is lost.
    bool send(Connection& connection, const BusBroker::Envelope& envelope, const MessageWireHeader& header,
              const std::wstring& name, const std::wstring& source, const std::wstring& payload);
    // Sends a frame that the broker acknowledges and waits for its status.
    uint32_t call(const std::shared_ptr<Connection>& connection, BusBroker::Envelope envelope,
                  const MessageWireHeader& header, const std::wstring& name, const std::wstring& source,
                  const std::wstring& payload);

    void readLoop(std::shared_ptr<Connection> connection);
    void onDeliver(const std::shared_ptr<Connection>& connection, const std::shared_ptr<BusBroker::Frame>& frame);
    void onReply(const std::shared_ptr<Connection>& connection, const std::shared_ptr<BusBroker::Frame>& frame);
    // Expects m_lock held.
    void postReply(const std::shared_ptr<Connection>& connection, const PendingRequest& pending,
                   std::shared_ptr<BusBroker::Frame> message, uint32_t status);
    void onLost(const std::shared_ptr<Connection>& connection);

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::map<void*, std::shared_ptr<Connection>> m_connections;
    std::multiset<RunningReply> m_runningReplies;
    uint32_t m_nextSubscription = 0;
    uint64_t m_nextSequence = 0;
};

} // namespace BusDouble
