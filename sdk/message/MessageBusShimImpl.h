#pragma once
#include "message/MessageBusShim.h"

#include "MessageBusFunctions.h"

namespace Ostrand {

// Turns the client's calls into calls of the bus library's table, and the
// library's callbacks back into messages. Holds no lock and no mutable state.
class MessageBusShimImpl : public MessageBusShim {
public:
    // Throws ModuleException for a null handle, or for a table that is null
    // or lacks any entry. Neither is owned.
    MessageBusShimImpl(void* handle, const MessageBusFunctions* functions);
    ~MessageBusShimImpl() override;

    // A table that is there with all ten entries.
    static bool isComplete(const MessageBusFunctions* functions);

    uint32_t publish(const std::shared_ptr<Message> message, bool ex) override;
    uint32_t request(const std::shared_ptr<Message> message, uint64_t replyIndex, ReplyFunction* replyFunction,
                     uint64_t timeoutMs, bool ex) override;
    uint32_t detachReplyCallback() override;
    uint32_t subscribe(const std::wstring& name, SubscriberFunction* callback) override;
    uint32_t subscribeFilter(const std::wstring& pattern, SubscriberFunction* callback) override;
    uint32_t unsubscribe(uint32_t id) override;

    static MODULE_STATUS onSubscriptionMessage(void* context, const MessageWireHeader* header, const wchar_t* name,
                                               const wchar_t* source, const wchar_t* payload);
    static MODULE_STATUS onReplyMessage(void* context, uint64_t replyIndex, const MessageWireHeader* header,
                                        const wchar_t* name, const wchar_t* source, const wchar_t* payload,
                                        uint32_t status);

private:
    void* m_handle;
    const MessageBusFunctions* m_functions;
};

} // namespace Ostrand
