#pragma once
#include "message/MessageBus.h"
#include "message/MessageBusShim.h"

#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <unordered_map>
#include <vector>

namespace Ostrand {

class ProcessAPI;

// The bus client over a shim: subscriptions grouped under aliases, pending
// requests completed by the library's reply callback, replies published to
// the requester and as plain messages, session-scoped subscriptions and
// local delivery of messages the host hands over directly.
class MessageBusClient : public MessageBus {
public:
    // Longer message names are never matched against a subscription's
    // regular expression: std::wregex overflows the stack on very long input.
    static constexpr size_t kLongestMatchedName = 1024;

    // Loads the bus library and opens a connection of its own; throws
    // ModuleException when that fails.
    MessageBusClient();
    MessageBusClient(std::shared_ptr<MessageBusShim> shim, std::shared_ptr<ProcessAPI> processApi);
    ~MessageBusClient() override;
    MessageBusClient(const MessageBusClient&) = delete;
    MessageBusClient& operator=(const MessageBusClient&) = delete;

    MODULE_STATUS publish(const std::shared_ptr<Message> message) override;
    MODULE_STATUS publishEx(const std::shared_ptr<Message> message) override;
    MODULE_STATUS request(const std::shared_ptr<Message> message, ReplyCallback callback,
                          const std::chrono::milliseconds& timeout) override;
    MODULE_STATUS request(const std::shared_ptr<Message> message, std::shared_ptr<Reply>& reply,
                          const std::chrono::milliseconds& timeout) override;
    MODULE_STATUS requestEx(const std::shared_ptr<Message> message, ReplyCallback callback,
                            const std::chrono::milliseconds& timeout) override;
    MODULE_STATUS requestEx(const std::shared_ptr<Message> message, std::shared_ptr<Reply>& reply,
                            const std::chrono::milliseconds& timeout) override;
    MODULE_STATUS subscribe(const std::wstring& name, const std::wstring& alias, Callback callback) override;
    MODULE_STATUS subscribe(const std::wstring& name, Callback callback) override;
    MODULE_STATUS subscribeSession(const std::wstring& name, const std::wstring& alias, Callback callback) override;
    MODULE_STATUS subscribeSession(const std::wstring& name, Callback callback) override;
    MODULE_STATUS subscribeFilter(const std::wstring& pattern, const std::wstring& alias, Callback callback) override;
    MODULE_STATUS subscribeFilter(const std::wstring& pattern, Callback callback) override;
    MODULE_STATUS subscribeFilterSession(const std::wstring& pattern, const std::wstring& alias,
                                         Callback callback) override;
    MODULE_STATUS subscribeFilterSession(const std::wstring& pattern, Callback callback) override;
    MODULE_STATUS unsubscribe(const std::wstring& alias) override;

    // Hands a message to the matching local subscribers on the calling
    // thread, under the subscription lock; nothing is published. A subscriber
    // reached this way must not subscribe or unsubscribe on this client.
    MODULE_STATUS dispatchDirectMessage(const std::shared_ptr<Message> message);

    // Completes the pending request `replyIndex`: with the answer (status
    // 0), as timed out (MODULE_STATUS_TIMEOUT) or as failed (anything else).
    uint32_t replyCallback(uint64_t replyIndex, const std::shared_ptr<Message> message, uint32_t status);

    uint32_t sessionId() const { return m_sessionId; }

private:
    using SubscriberFunction = MessageBusShim::SubscriberFunction;

    struct Subscription {
        uint32_t id = 0;
        std::wstring name;
        std::shared_ptr<SubscriberFunction> callback;
    };
    struct FilterSubscription {
        uint32_t id = 0;
        std::wstring pattern;
        std::wregex regex;
        std::shared_ptr<SubscriberFunction> callback;
    };
    struct AliasEntry {
        std::vector<Subscription> subscriptions;
        std::vector<FilterSubscription> filters;
    };
    struct PendingReply {
        std::promise<std::shared_ptr<Message>> promise;
        std::function<void()> task;
    };
    using AliasTable = std::unordered_map<std::wstring, AliasEntry>;

    MODULE_STATUS internalPublish(const std::shared_ptr<Message>& message, bool ex);
    // The reply form when `reply` is given, the callback form otherwise.
    MODULE_STATUS internalRequest(const std::shared_ptr<Message>& message, ReplyCallback callback,
                                  std::shared_ptr<Reply>* reply, const std::chrono::milliseconds& timeout, bool ex);
    Callback sessionScoped(Callback callback) const;
    static std::shared_ptr<SubscriberFunction> holdCallback(Callback callback);
    void unsubscribeAll();
    void releaseFromBus(const AliasEntry& entry);

    std::shared_ptr<MessageBusShim> m_shim;
    std::shared_ptr<ProcessAPI> m_processApi;
    std::mutex m_subscriptionLock;
    AliasTable m_subscriptions;
    uint64_t m_nextReplyIndex = 0;
    MessageBusShim::ReplyFunction m_replyFunction;
    std::mutex m_pendingLock;
    std::unordered_map<uint64_t, PendingReply> m_pending;
    uint32_t m_sessionId = 0;
};

} // namespace Ostrand
