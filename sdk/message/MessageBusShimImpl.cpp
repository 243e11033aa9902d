#include "message/MessageBusShimImpl.h"

#include "Logging/Log.h"
#include "dll/CallGuarded.h"
#include "dll/ModuleException.h"

namespace Ostrand {

namespace {

const wchar_t kSource[] = L"MessageBusShimImpl";

// Builds the message a delivery describes. Null when the library handed
// strings that cannot be read or a header that does not describe them; the
// reason is logged and `status` says what to answer.
std::shared_ptr<Message> messageFromDelivery(const wchar_t* function, const MessageWireHeader* header,
                                             const wchar_t* name, const wchar_t* source, const wchar_t* payload,
                                             uint32_t& status)
{
    if (!name || !source || !payload) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                L"Message bus delivered a message with a null string. Dropping it.");
        status = MODULE_STATUS_INVALID_PARAMETER;
        return nullptr;
    }
    std::shared_ptr<Message> message = Message::create(name, source, payload);
    if (!message) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                L"Failed to build a message delivered by the message bus. Dropping it.");
        status = MODULE_STATUS_NO_MEMORY;
        return nullptr;
    }
    if (!message->copyHeaderFrom(header)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                L"Message bus delivered message %ls with header size %lu, but its text needs %lu. Dropping it.",
                message->name().c_str(), static_cast<unsigned long>(message->header()->totalSize),
                static_cast<unsigned long>(message->expectedSize()));
        status = MODULE_STATUS_DATA_ERROR;
        return nullptr;
    }
    status = MODULE_STATUS_SUCCESS;
    return message;
}

} // namespace

MessageBusShimImpl::MessageBusShimImpl(void* handle, const MessageBusFunctions* functions)
    : m_handle(handle), m_functions(functions)
{
    if (!handle) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::MessageBusShimImpl::MessageBusShimImpl",
                L"Invalid message bus handle. Throwing ModuleException.");
        throw ModuleException("Invalid message bus handle");
    }
    if (!isComplete(functions)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::MessageBusShimImpl::MessageBusShimImpl",
                L"Invalid message bus functions object. Throwing ModuleException.");
        throw ModuleException("Invalid message bus functions object");
    }
}

bool MessageBusShimImpl::isComplete(const MessageBusFunctions* functions)
{
    // Every entry is called without a further test, at the latest when the
    // shim or its owner goes away.
    return functions && functions->getHandle && functions->release && functions->publish && functions->request &&
           functions->subscribe && functions->subscribeFilter && functions->unsubscribe &&
           functions->detachReplyCallback && functions->publishEx && functions->requestEx;
}

MessageBusShimImpl::~MessageBusShimImpl()
{
    m_functions->detachReplyCallback(m_handle, &MessageBusShimImpl::onReplyMessage);
}

uint32_t MessageBusShimImpl::publish(const std::shared_ptr<Message> message, bool ex)
{
    if (!message)
        return MODULE_STATUS_INVALID_PARAMETER;
    const MessageBusPublishFunction entry = ex ? m_functions->publishEx : m_functions->publish;
    return entry(m_handle, message->header(), message->name().c_str(), message->source().c_str(),
                 message->payload().c_str());
}

uint32_t MessageBusShimImpl::request(const std::shared_ptr<Message> message, uint64_t replyIndex,
                                     ReplyFunction* replyFunction, uint64_t timeoutMs, bool ex)
{
    if (!message)
        return MODULE_STATUS_INVALID_PARAMETER;
    const MessageBusRequestFunction entry = ex ? m_functions->requestEx : m_functions->request;
    return entry(m_handle, replyIndex, replyFunction, &MessageBusShimImpl::onReplyMessage, message->header(),
                 message->name().c_str(), message->source().c_str(), message->payload().c_str(), timeoutMs);
}

uint32_t MessageBusShimImpl::detachReplyCallback()
{
    return m_functions->detachReplyCallback(m_handle, &MessageBusShimImpl::onReplyMessage);
}

uint32_t MessageBusShimImpl::subscribe(const std::wstring& name, SubscriberFunction* callback)
{
    return m_functions->subscribe(m_handle, callback, &MessageBusShimImpl::onSubscriptionMessage, name.c_str());
}

uint32_t MessageBusShimImpl::subscribeFilter(const std::wstring& pattern, SubscriberFunction* callback)
{
    return m_functions->subscribeFilter(m_handle, callback, &MessageBusShimImpl::onSubscriptionMessage,
                                        pattern.c_str());
}

uint32_t MessageBusShimImpl::unsubscribe(uint32_t id)
{
    return m_functions->unsubscribe(m_handle, id);
}

MODULE_STATUS MessageBusShimImpl::onSubscriptionMessage(void* context, const MessageWireHeader* header,
                                                        const wchar_t* name, const wchar_t* source,
                                                        const wchar_t* payload)
{
    return internal::callGuarded([&]() -> uint32_t {
        uint32_t status = MODULE_STATUS_SUCCESS;
        std::shared_ptr<Message> message = messageFromDelivery(L"Ostrand::MessageBusShimImpl::onSubscriptionMessage",
                                                               header, name, source, payload, status);
        if (!message)
            return status;
        auto* subscriber = static_cast<SubscriberFunction*>(context);
        if (!subscriber || !*subscriber)
            return MODULE_STATUS_UNKNOWN_EXCEPTION;
        return (*subscriber)(message);
    });
}

MODULE_STATUS MessageBusShimImpl::onReplyMessage(void* context, uint64_t replyIndex, const MessageWireHeader* header,
                                                 const wchar_t* name, const wchar_t* source, const wchar_t* payload,
                                                 uint32_t status)
{
    return internal::callGuarded([&]() -> uint32_t {
        std::shared_ptr<Message> message;
        uint32_t replyStatus = status;
        if (status == MODULE_STATUS_SUCCESS) {
            // An answer that cannot be read still ends the request, as a failure.
            message = messageFromDelivery(L"Ostrand::MessageBusShimImpl::onReplyMessage", header, name, source,
                                          payload, replyStatus);
        }
        if (!context)
            return MODULE_STATUS_INVALID_PARAMETER;
        auto* replyFunction = static_cast<ReplyFunction*>(context);
        if (!*replyFunction)
            return MODULE_STATUS_UNKNOWN_EXCEPTION;
        return (*replyFunction)(replyIndex, message, replyStatus);
    });
}

} // namespace Ostrand
