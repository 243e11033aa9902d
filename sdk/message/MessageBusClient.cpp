#include "message/MessageBusClient.h"

#include "Logging/Log.h"
#include "dll/CallGuarded.h"
#include "dll/MessageBusLib.h"
#include "message/ReplyImpl.h"
#include "wrappers/ProcessAPI.h"

#include <system_error>

namespace Ostrand {

namespace {

const wchar_t kSource[] = L"MessageBusClient";

std::exception_ptr failureOf(std::errc code)
{
    // libstdc++ cannot build a std::future_error from an arbitrary code; the
    // reply reads the generic-category code of a std::system_error instead.
    return std::make_exception_ptr(std::system_error(std::make_error_code(code)));
}

uint64_t timeoutMs(const std::chrono::milliseconds& timeout)
{
    return timeout.count() < 0 ? 0 : static_cast<uint64_t>(timeout.count());
}

} // namespace

MessageBusClient::MessageBusClient() : MessageBusClient(std::make_shared<MessageBusLib>(), nullptr)
{
}

MessageBusClient::MessageBusClient(std::shared_ptr<MessageBusShim> shim, std::shared_ptr<ProcessAPI> processApi)
    : m_shim(std::move(shim)), m_processApi(processApi ? std::move(processApi) : std::make_shared<ProcessAPI>())
{
    m_replyFunction = [this](uint64_t index, const std::shared_ptr<Message> message, uint32_t status) {
        return replyCallback(index, message, status);
    };
    const DWORD processId = m_processApi->getCurrentProcessId();
    DWORD sessionId = 0;
    if (m_processApi->processIdToSessionId(processId, &sessionId)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, L"Ostrand::MessageBusClient::MessageBusClient",
                L"Found session id %ld for process %ld", static_cast<long>(sessionId), static_cast<long>(processId));
        m_sessionId = sessionId;
    } else {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::MessageBusClient::MessageBusClient",
                L"Failed to get the session id for process %ld - defaulting to %ld", static_cast<long>(processId),
                0L);
        m_sessionId = 0;
    }
}

MessageBusClient::~MessageBusClient()
{
    internal::callGuarded([this]() -> uint32_t {
        unsubscribeAll();
        m_shim->detachReplyCallback();
        return MODULE_STATUS_SUCCESS;
    });
}

MODULE_STATUS MessageBusClient::publish(const std::shared_ptr<Message> message)
{
    return internalPublish(message, false);
}

MODULE_STATUS MessageBusClient::publishEx(const std::shared_ptr<Message> message)
{
    return internalPublish(message, true);
}

MODULE_STATUS MessageBusClient::request(const std::shared_ptr<Message> message, ReplyCallback callback,
                                        const std::chrono::milliseconds& timeout)
{
    return internalRequest(message, std::move(callback), nullptr, timeout, false);
}

MODULE_STATUS MessageBusClient::request(const std::shared_ptr<Message> message, std::shared_ptr<Reply>& reply,
                                        const std::chrono::milliseconds& timeout)
{
    return internalRequest(message, nullptr, &reply, timeout, false);
}

MODULE_STATUS MessageBusClient::requestEx(const std::shared_ptr<Message> message, ReplyCallback callback,
                                          const std::chrono::milliseconds& timeout)
{
    return internalRequest(message, std::move(callback), nullptr, timeout, true);
}

MODULE_STATUS MessageBusClient::requestEx(const std::shared_ptr<Message> message, std::shared_ptr<Reply>& reply,
                                          const std::chrono::milliseconds& timeout)
{
    return internalRequest(message, nullptr, &reply, timeout, true);
}

MODULE_STATUS MessageBusClient::internalPublish(const std::shared_ptr<Message>& message, bool ex)
{
    if (!message)
        return MODULE_STATUS_INVALID_PARAMETER;
    MessageHeader* header = message->header();
    bool copyDue = false;
    if (header->testFlag(MESSAGE_FLAG_REPLY) && !header->testFlag(MESSAGE_FLAG_REPLY_ONLY) &&
        !header->testFlag(MESSAGE_FLAG_REPLY_COPIED)) {
        header->setFlag(MESSAGE_FLAG_REPLY_COPIED);
        copyDue = true;
    }
    const uint32_t status = m_shim->publish(message, ex);
    if (status != MODULE_STATUS_SUCCESS) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::MessageBusClient::internalPublish",
                L"Failed to publish message. Error code %lu.", static_cast<unsigned long>(status));
        return status;
    }
    if (!copyDue)
        return MODULE_STATUS_SUCCESS;
    // The same answer once more, as a plain message for every subscriber of its name.
    header->clearFlag(MESSAGE_FLAG_REPLY);
    header->clearReplyTo();
    const uint32_t copyStatus = m_shim->publish(message, ex);
    if (copyStatus != MODULE_STATUS_SUCCESS) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Ostrand::MessageBusClient::internalPublish",
                L"Failed to publish non-reply copy of the message. Error code %lu.",
                static_cast<unsigned long>(copyStatus));
    }
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS MessageBusClient::internalRequest(const std::shared_ptr<Message>& message, ReplyCallback callback,
                                                std::shared_ptr<Reply>* reply,
                                                const std::chrono::milliseconds& timeout, bool ex)
{
    uint64_t index = 0;
    auto future = std::make_shared<std::future<std::shared_ptr<Message>>>();
    {
        std::lock_guard<std::mutex> lock(m_pendingLock);
        index = m_nextReplyIndex++;
        PendingReply pending;
        *future = pending.promise.get_future();
        if (!reply) {
            pending.task = [future, callback]() {
                std::shared_ptr<Reply> answer = ReplyImpl::create(std::move(*future), std::chrono::milliseconds(0));
                answer->getStatus();
                if (callback)
                    callback(answer);
            };
        }
        if (!m_pending.emplace(index, std::move(pending)).second) {
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::MessageBusClient::internalRequest",
                    L"Unable to create reply promise. Returning.");
            return MODULE_STATUS_UNSUCCESSFUL;
        }
    }
    // The library may answer on another thread before this call returns:
    // the entry exists already, and no lock is held across the call.
    const uint32_t status = m_shim->request(message, index, &m_replyFunction, timeoutMs(timeout), ex);
    if (status != MODULE_STATUS_SUCCESS) {
        {
            std::lock_guard<std::mutex> lock(m_pendingLock);
            m_pending.erase(index);
        }
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::MessageBusClient::internalRequest",
                L"Failed to make request. Error code %lu.", static_cast<unsigned long>(status));
        return status;
    }
    if (reply)
        *reply = ReplyImpl::create(std::move(*future), timeout);
    return MODULE_STATUS_SUCCESS;
}

uint32_t MessageBusClient::replyCallback(uint64_t replyIndex, const std::shared_ptr<Message> message, uint32_t status)
{
    PendingReply pending;
    {
        std::lock_guard<std::mutex> lock(m_pendingLock);
        auto found = m_pending.find(replyIndex);
        if (found == m_pending.end()) {
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Ostrand::MessageBusClient::replyCallback",
                    L"Reply index not found. Returning");
            return MODULE_STATUS_NOT_FOUND;
        }
        pending = std::move(found->second);
        m_pending.erase(found);
    }
    if (status == MODULE_STATUS_TIMEOUT)
        pending.promise.set_exception(failureOf(std::errc::operation_canceled));
    else if (status == MODULE_STATUS_SUCCESS)
        pending.promise.set_value(message);
    else
        pending.promise.set_exception(failureOf(std::errc::no_message_available));
    if (pending.task) {
        internal::callGuarded([&pending]() -> uint32_t {
            pending.task();
            return MODULE_STATUS_SUCCESS;
        });
    }
    return MODULE_STATUS_SUCCESS;
}

std::shared_ptr<MessageBusShim::SubscriberFunction> MessageBusClient::holdCallback(Callback callback)
{
    // The library's context is the held function; the subscriber itself sits
    // behind a pointer that each delivery copies first. So a subscriber that
    // unsubscribes its own alias keeps running safely to its end, although
    // the subscription entry is gone.
    auto subscriber = std::make_shared<Callback>(std::move(callback));
    return std::make_shared<SubscriberFunction>([subscriber](std::shared_ptr<Message> message) -> uint32_t {
        const std::shared_ptr<Callback> running = subscriber;
        return (*running)(std::move(message));
    });
}

MODULE_STATUS MessageBusClient::subscribe(const std::wstring& name, const std::wstring& alias, Callback callback)
{
    std::lock_guard<std::mutex> lock(m_subscriptionLock);
    AliasEntry& entry = m_subscriptions[alias];
    Subscription subscription;
    subscription.name = name;
    subscription.callback = holdCallback(std::move(callback));
    SubscriberFunction* context = subscription.callback.get();
    entry.subscriptions.push_back(std::move(subscription));
    const uint32_t id = m_shim->subscribe(name, context);
    if (id == 0) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::MessageBusClient::subscribe",
                L"Failed to subscribe. Alias: %ls Message name: %ls", alias.c_str(), name.c_str());
        entry.subscriptions.pop_back();
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    entry.subscriptions.back().id = id;
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS MessageBusClient::subscribe(const std::wstring& name, Callback callback)
{
    return subscribe(name, name, std::move(callback));
}

MODULE_STATUS MessageBusClient::subscribeSession(const std::wstring& name, const std::wstring& alias,
                                                 Callback callback)
{
    return subscribe(name, alias, sessionScoped(std::move(callback)));
}

MODULE_STATUS MessageBusClient::subscribeSession(const std::wstring& name, Callback callback)
{
    return subscribeSession(name, name, std::move(callback));
}

MODULE_STATUS MessageBusClient::subscribeFilter(const std::wstring& pattern, const std::wstring& alias,
                                                Callback callback)
{
    FilterSubscription subscription;
    try {
        subscription.regex.assign(pattern, std::regex_constants::ECMAScript | std::regex_constants::nosubs |
                                               std::regex_constants::optimize);
    } catch (const std::regex_error& error) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::MessageBusClient::subscribeFilter",
                L"subscribeFilter failed. Regex error with regex \"%ls\" [caught: %hs]", pattern.c_str(),
                error.what());
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    subscription.pattern = pattern;
    subscription.callback = holdCallback(std::move(callback));
    SubscriberFunction* context = subscription.callback.get();

    std::lock_guard<std::mutex> lock(m_subscriptionLock);
    AliasEntry& entry = m_subscriptions[alias];
    entry.filters.push_back(std::move(subscription));
    const uint32_t id = m_shim->subscribeFilter(pattern, context);
    if (id == 0) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::MessageBusClient::subscribeFilter",
                L"Failed to subscribeFilter. Alias: %ls Message nameRegex: %ls", alias.c_str(), pattern.c_str());
        entry.filters.pop_back();
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    entry.filters.back().id = id;
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS MessageBusClient::subscribeFilter(const std::wstring& pattern, Callback callback)
{
    return subscribeFilter(pattern, pattern, std::move(callback));
}

MODULE_STATUS MessageBusClient::subscribeFilterSession(const std::wstring& pattern, const std::wstring& alias,
                                                       Callback callback)
{
    return subscribeFilter(pattern, alias, sessionScoped(std::move(callback)));
}

MODULE_STATUS MessageBusClient::subscribeFilterSession(const std::wstring& pattern, Callback callback)
{
    return subscribeFilterSession(pattern, pattern, std::move(callback));
}

MessageBus::Callback MessageBusClient::sessionScoped(Callback callback) const
{
    if (m_sessionId == 0)
        return callback;
    const uint32_t own = m_sessionId;
    return [own, callback](std::shared_ptr<Message> message) -> uint32_t {
        const MessageSessionExtension* extension = message ? message->header()->sessionExtension(2) : nullptr;
        if (extension && extension->sessionId != 0 && extension->sessionId != own)
            return MODULE_STATUS_SUCCESS;
        return callback(std::move(message));
    };
}

MODULE_STATUS MessageBusClient::unsubscribe(const std::wstring& alias)
{
    AliasEntry entry;
    {
        std::lock_guard<std::mutex> lock(m_subscriptionLock);
        auto found = m_subscriptions.find(alias);
        if (found == m_subscriptions.end()) {
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Ostrand::MessageBusClient::unsubscribe",
                    L"Subscription not found. Alias: %ls.", alias.c_str());
            return MODULE_STATUS_SUCCESS;
        }
        entry = std::move(found->second);
        m_subscriptions.erase(found);
    }
    // The library waits here for deliveries of these subscriptions that are
    // still running, and they may need the subscription lock themselves.
    releaseFromBus(entry);
    return MODULE_STATUS_SUCCESS;
}

void MessageBusClient::releaseFromBus(const AliasEntry& entry)
{
    for (const Subscription& subscription : entry.subscriptions)
        m_shim->unsubscribe(subscription.id);
    for (const FilterSubscription& subscription : entry.filters)
        m_shim->unsubscribe(subscription.id);
}

void MessageBusClient::unsubscribeAll()
{
    AliasTable table;
    {
        std::lock_guard<std::mutex> lock(m_subscriptionLock);
        table.swap(m_subscriptions);
    }
    for (const auto& alias : table)
        releaseFromBus(alias.second);
}

MODULE_STATUS MessageBusClient::dispatchDirectMessage(const std::shared_ptr<Message> message)
{
    if (!message)
        return MODULE_STATUS_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(m_subscriptionLock);
    for (const auto& alias : m_subscriptions) {
        for (const Subscription& subscription : alias.second.subscriptions) {
            if (subscription.name == message->name())
                (*subscription.callback)(message);
        }
        for (const FilterSubscription& subscription : alias.second.filters) {
            if (message->name().size() <= kLongestMatchedName && std::regex_match(message->name(), subscription.regex))
                (*subscription.callback)(message);
        }
    }
    return MODULE_STATUS_SUCCESS;
}

} // namespace Ostrand
