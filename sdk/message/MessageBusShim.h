#pragma once
#include "message/Message.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Ostrand {

// The bus client's way to the bus library's table: one call per table entry.
class MessageBusShim {
public:
    // What a subscription context points at.
    using SubscriberFunction = std::function<uint32_t(std::shared_ptr<Message>)>;
    // What a request's reply context points at: (reply index, answer, status).
    using ReplyFunction = std::function<uint32_t(uint64_t, const std::shared_ptr<Message>, uint32_t)>;

    virtual ~MessageBusShim() = default;
    virtual uint32_t publish(const std::shared_ptr<Message> message, bool ex) = 0;
    virtual uint32_t request(const std::shared_ptr<Message> message, uint64_t replyIndex, ReplyFunction* replyFunction,
                             uint64_t timeoutMs, bool ex) = 0;
    virtual uint32_t detachReplyCallback() = 0;
    // Subscription ids; 0 is failure.
    virtual uint32_t subscribe(const std::wstring& name, SubscriberFunction* callback) = 0;
    virtual uint32_t subscribeFilter(const std::wstring& pattern, SubscriberFunction* callback) = 0;
    virtual uint32_t unsubscribe(uint32_t id) = 0;
};

} // namespace Ostrand
