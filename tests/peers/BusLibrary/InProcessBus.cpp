#include "InProcessBus.h"

#include "BrokerBus.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

namespace BusDouble {

namespace {

// Longer names are never matched against patterns: std::wregex overflows
// the stack on very long input.
const size_t kLongestMatchedName = 1024;

void copyText(wchar_t (&target)[128], const std::wstring& text)
{
    const size_t count = std::min(text.size(), sizeof(target) / sizeof(target[0]) - 1);
    std::wmemcpy(target, text.data(), count);
    target[count] = L'\0';
}

} // namespace

InProcessBus& InProcessBus::instance()
{
    // Never destroyed: delivery threads may still run at process exit.
    static InProcessBus* bus = new InProcessBus();
    return *bus;
}

// ---- the ten entries ----------------------------------------------------

MODULE_STATUS InProcessBus::getHandle(void** handle)
{
    if (!handle) {
        record(Call::GetHandle, 0, MODULE_STATUS_INVALID_PARAMETER);
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    std::unique_lock<std::mutex> guard(m_lock);
    if (m_getHandleStatus != MODULE_STATUS_SUCCESS) {
        const uint32_t status = m_getHandleStatus;
        guard.unlock();
        record(Call::GetHandle, 0, status);
        return status;
    }
    auto connection = std::make_shared<Connection>();
    connection->id = ++m_nextConnection;
    connection->messages.reset(new DeliveryPool());
    connection->replies.reset(new DeliveryPool());
    *handle = connection.get();
    m_connections[connection.get()] = connection;
    guard.unlock();
    record(Call::GetHandle, connection->id, MODULE_STATUS_SUCCESS);
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS InProcessBus::release(void* handle)
{
    std::shared_ptr<Connection> connection;
    std::unique_ptr<DeliveryPool> messages;
    std::unique_ptr<DeliveryPool> replies;
    {
        std::unique_lock<std::mutex> guard(m_lock);
        connection = connectionOf(handle);
        if (!connection) {
            guard.unlock();
            record(Call::Release, 0, MODULE_STATUS_INVALID_HANDLE);
            return MODULE_STATUS_INVALID_HANDLE;
        }
        m_connections.erase(handle);
        connection->closed = true;
        for (auto it = m_subscriptions.begin(); it != m_subscriptions.end();) {
            if (it->second->connection == connection) {
                it->second->active = false;
                it = m_subscriptions.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = m_pending.begin(); it != m_pending.end();)
            it = it->second.connection == connection ? m_pending.erase(it) : std::next(it);
        Connection* raw = connection.get();
        const auto self = std::this_thread::get_id();
        waitUntil(guard, [&]() {
            return std::none_of(m_runningReplies.begin(), m_runningReplies.end(), [&](const RunningReply& running) {
                return std::get<0>(running) == raw && std::get<2>(running) != self;
            });
        });
        messages = std::move(connection->messages);
        replies = std::move(connection->replies);
    }
    record(Call::Release, connection->id, MODULE_STATUS_SUCCESS);
    // Outside the lock: the pools wait for their threads, which may want it.
    messages.reset();
    replies.reset();
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS InProcessBus::publish(void* handle, const MessageWireHeader* header, const wchar_t* name,
                                    const wchar_t* source, const wchar_t* payload, bool ex)
{
    const Call call = ex ? Call::PublishEx : Call::Publish;
    std::unique_lock<std::mutex> guard(m_lock);
    std::shared_ptr<Connection> connection = connectionOf(handle);
    if (!connection) {
        guard.unlock();
        record(call, 0, MODULE_STATUS_INVALID_HANDLE, nullptr, 0, 0, 0, name);
        return MODULE_STATUS_INVALID_HANDLE;
    }
    std::shared_ptr<WireMessage> message = carry(header, name, source, payload);
    if (!message) {
        guard.unlock();
        record(call, connection->id, MODULE_STATUS_INVALID_PARAMETER, nullptr, 0, 0, 0, name);
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    if (message->header.flags & (1u << MESSAGE_FLAG_REPLY)) {
        // A reply goes to its requester only, and only the first one counts.
        const uint64_t inReplyTo = message->header.inReplyTo;
        auto found = m_pending.find(inReplyTo);
        if (found != m_pending.end() && m_replyMode == ReplyMode::Delay) {
            // The request stays pending meanwhile: its deadline may come first.
            schedule(Clock::now() + scaled(m_replyDelayMs, found->second.timeScale), [this, inReplyTo, message]() {
                auto late = m_pending.find(inReplyTo);
                if (late == m_pending.end())
                    return;
                const PendingRequest pending = late->second;
                m_pending.erase(late);
                deliverReply(pending, message, MODULE_STATUS_SUCCESS);
            });
        } else if (found != m_pending.end() && m_replyMode != ReplyMode::Drop) {
            const PendingRequest pending = found->second;
            m_pending.erase(found);
            {
                deliverReply(pending, message, MODULE_STATUS_SUCCESS);
                if (m_replyMode == ReplyMode::Double)
                    deliverReply(pending, message, MODULE_STATUS_SUCCESS);
            }
        }
    } else {
        message->header.messageId = ++m_nextMessageId;
        std::memcpy(message->header.firstAddress, &connection->id, sizeof(connection->id));
        deliver(matching(message->name), message);
    }
    guard.unlock();
    record(call, connection->id, MODULE_STATUS_SUCCESS, message.get());
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS InProcessBus::request(void* handle, uint64_t replyIndex, void* context, MessageBusReplyCallback callback,
                                    const MessageWireHeader* header, const wchar_t* name, const wchar_t* source,
                                    const wchar_t* payload, uint64_t timeoutMs, bool ex)
{
    const Call call = ex ? Call::RequestEx : Call::Request;
    std::unique_lock<std::mutex> guard(m_lock);
    std::shared_ptr<Connection> connection = connectionOf(handle);
    if (!connection) {
        guard.unlock();
        record(call, 0, MODULE_STATUS_INVALID_HANDLE, nullptr, 0, replyIndex, timeoutMs, name);
        return MODULE_STATUS_INVALID_HANDLE;
    }
    std::shared_ptr<WireMessage> message = carry(header, name, source, payload);
    if (!message || !callback) {
        guard.unlock();
        record(call, connection->id, MODULE_STATUS_INVALID_PARAMETER, nullptr, 0, replyIndex, timeoutMs, name);
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    const std::vector<std::shared_ptr<Subscription>> targets = matching(message->name);
    if (targets.empty()) {
        guard.unlock();
        record(call, connection->id, MODULE_STATUS_NO_SUBSCRIBERS, message.get(), 0, replyIndex, timeoutMs);
        return MODULE_STATUS_NO_SUBSCRIBERS;
    }
    const uint64_t messageId = ++m_nextMessageId;
    MessageWireHeader& wire = message->header;
    wire.flags |= 1u << MESSAGE_FLAG_EXPECTS_REPLY;
    wire.messageId = messageId;
    std::memcpy(wire.firstAddress, &connection->id, sizeof(connection->id));
    const DWORD process = GetCurrentProcessId();
    std::memcpy(wire.firstAddress + sizeof(connection->id), &process, sizeof(process));
    std::memcpy(wire.firstTag, &messageId, sizeof(messageId));

    // A new request attaches its callback again.
    connection->detached.erase(callback);
    const double scale = scaleOf(message->name);
    m_pending[messageId] = PendingRequest{connection, replyIndex, context, callback, scale};
    schedule(Clock::now() + scaled(timeoutMs, scale), [this, messageId]() {
        auto found = m_pending.find(messageId);
        if (found == m_pending.end())
            return;
        const PendingRequest pending = found->second;
        m_pending.erase(found);
        deliverReply(pending, nullptr, MODULE_STATUS_TIMEOUT);
    });
    deliver(targets, message);
    guard.unlock();
    record(call, connection->id, MODULE_STATUS_SUCCESS, message.get(), 0, replyIndex, timeoutMs);
    return MODULE_STATUS_SUCCESS;
}

uint32_t InProcessBus::subscribe(void* handle, void* context, MessageBusSubscriptionCallback callback,
                                 const wchar_t* text, bool pattern)
{
    const Call call = pattern ? Call::SubscribeFilter : Call::Subscribe;
    std::unique_lock<std::mutex> guard(m_lock);
    std::shared_ptr<Connection> connection = connectionOf(handle);
    if (!connection || !callback || !text) {
        guard.unlock();
        record(call, connection ? connection->id : 0, 0, nullptr, 0, 0, 0, text);
        return 0;
    }
    auto subscription = std::make_shared<Subscription>();
    subscription->connection = connection;
    subscription->context = context;
    subscription->callback = callback;
    subscription->text = text;
    subscription->pattern = pattern;
    if (pattern) {
        try {
            subscription->regex.assign(subscription->text, std::regex_constants::ECMAScript |
                                                               std::regex_constants::nosubs |
                                                               std::regex_constants::optimize);
        } catch (const std::regex_error&) {
            guard.unlock();
            record(call, connection->id, 0, nullptr, 0, 0, 0, text);
            return 0;
        }
    }
    do {
        subscription->id = ++m_nextSubscription;
    } while (subscription->id == 0 || m_subscriptions.count(subscription->id));
    m_subscriptions[subscription->id] = subscription;
    guard.unlock();
    record(call, connection->id, subscription->id, nullptr, subscription->id, 0, 0, text);
    return subscription->id;
}

MODULE_STATUS InProcessBus::unsubscribe(void* handle, uint32_t id)
{
    std::unique_lock<std::mutex> guard(m_lock);
    std::shared_ptr<Connection> connection = connectionOf(handle);
    uint32_t status = MODULE_STATUS_SUCCESS;
    auto found = m_subscriptions.find(id);
    if (!connection) {
        status = MODULE_STATUS_INVALID_HANDLE;
    } else if (found == m_subscriptions.end() || found->second->connection != connection) {
        status = MODULE_STATUS_NOT_FOUND;
    } else {
        std::shared_ptr<Subscription> subscription = found->second;
        subscription->active = false;
        m_subscriptions.erase(found);
        // Deliveries already running finish first, except one on this very
        // thread (a subscriber removing itself), which would wait for itself.
        const auto self = std::this_thread::get_id();
        waitUntil(guard, [&]() {
            return std::all_of(subscription->running.begin(), subscription->running.end(),
                               [&](const std::thread::id& thread) { return thread == self; });
        });
    }
    guard.unlock();
    record(Call::Unsubscribe, connection ? connection->id : 0, status, nullptr, id);
    return status;
}

MODULE_STATUS InProcessBus::detachReplyCallback(void* handle, MessageBusReplyCallback callback)
{
    std::unique_lock<std::mutex> guard(m_lock);
    std::shared_ptr<Connection> connection = connectionOf(handle);
    if (!connection) {
        guard.unlock();
        record(Call::DetachReplyCallback, 0, MODULE_STATUS_INVALID_HANDLE);
        return MODULE_STATUS_INVALID_HANDLE;
    }
    connection->detached.insert(callback);
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        const bool mine = it->second.connection == connection && it->second.callback == callback;
        it = mine ? m_pending.erase(it) : std::next(it);
    }
    Connection* raw = connection.get();
    const auto self = std::this_thread::get_id();
    waitUntil(guard, [&]() {
        return std::none_of(m_runningReplies.begin(), m_runningReplies.end(), [&](const RunningReply& running) {
            return std::get<0>(running) == raw && std::get<1>(running) == callback && std::get<2>(running) != self;
        });
    });
    guard.unlock();
    record(Call::DetachReplyCallback, connection->id, MODULE_STATUS_SUCCESS);
    return MODULE_STATUS_SUCCESS;
}

// ---- routing --------------------------------------------------------------

std::shared_ptr<InProcessBus::Connection> InProcessBus::connectionOf(void* handle) const
{
    auto found = m_connections.find(handle);
    return found == m_connections.end() ? nullptr : found->second;
}

std::shared_ptr<WireMessage> InProcessBus::carry(const MessageWireHeader* header, const wchar_t* name,
                                                 const wchar_t* source, const wchar_t* payload) const
{
    if (!header || !name || !source || !payload)
        return nullptr;
    auto message = std::make_shared<WireMessage>();
    if (header->version == MESSAGE_HEADER_VERSION_2) {
        std::memcpy(&message->header, header, MESSAGE_HEADER_SIZE_V2);
    } else {
        std::memset(&message->header, 0, sizeof(message->header));
        std::memcpy(&message->header, header, MESSAGE_HEADER_SIZE_V1);
        message->header.totalSize += MESSAGE_HEADER_SIZE_V2 - MESSAGE_HEADER_SIZE_V1;
        message->header.version = MESSAGE_HEADER_VERSION_2;
        message->header.session.extensionType = MESSAGE_HEADER_SESSION_EXTENSION_TYPE;
        message->header.session.extensionLength = MESSAGE_HEADER_SESSION_EXTENSION_LENGTH;
    }
    message->name = name;
    message->source = source;
    message->payload = payload;
    return message;
}

std::vector<std::shared_ptr<InProcessBus::Subscription>> InProcessBus::matching(const std::wstring& name) const
{
    std::vector<std::shared_ptr<Subscription>> found;
    for (const auto& entry : m_subscriptions) {
        const Subscription& subscription = *entry.second;
        const bool match = subscription.pattern
                               ? name.size() <= kLongestMatchedName && std::regex_match(name, subscription.regex)
                               : name == subscription.text;
        if (match)
            found.push_back(entry.second);
    }
    return found;
}

void InProcessBus::deliver(const std::vector<std::shared_ptr<Subscription>>& targets,
                           const std::shared_ptr<WireMessage>& message)
{
    const bool version1 = m_deliverVersion1;
    for (const std::shared_ptr<Subscription>& subscription : targets) {
        if (!subscription->connection->messages)
            continue;
        subscription->connection->messages->post([this, subscription, message, version1]() {
            // A version-1 sender hands over exactly 100 bytes.
            std::vector<uint8_t> header(version1 ? MESSAGE_HEADER_SIZE_V1 : MESSAGE_HEADER_SIZE_V2);
            std::memcpy(header.data(), &message->header, header.size());
            if (version1) {
                auto* old = reinterpret_cast<MessageWireHeader*>(header.data());
                const uint16_t one = 1;
                const uint32_t size = message->header.totalSize - (MESSAGE_HEADER_SIZE_V2 - MESSAGE_HEADER_SIZE_V1);
                std::memcpy(reinterpret_cast<uint8_t*>(old) + offsetof(MessageWireHeader, version), &one, sizeof(one));
                std::memcpy(reinterpret_cast<uint8_t*>(old) + offsetof(MessageWireHeader, totalSize), &size,
                            sizeof(size));
            }
            {
                std::lock_guard<std::mutex> guard(m_lock);
                if (!subscription->active)
                    return;
                subscription->running.insert(std::this_thread::get_id());
            }
            const uint32_t status =
                subscription->callback(subscription->context, reinterpret_cast<const MessageWireHeader*>(header.data()),
                                       message->name.c_str(), message->source.c_str(), message->payload.c_str());
            {
                std::lock_guard<std::mutex> guard(m_lock);
                subscription->running.erase(subscription->running.find(std::this_thread::get_id()));
            }
            m_changed.notify_all();
            record(Call::DeliverMessage, subscription->connection->id, status, message.get(), subscription->id);
        });
    }
}

void InProcessBus::deliverReply(const PendingRequest& pending, const std::shared_ptr<WireMessage>& message,
                                uint32_t status)
{
    std::shared_ptr<Connection> connection = pending.connection;
    if (connection->closed || !connection->replies)
        return;
    connection->replies->post([this, pending, message, status]() {
        Connection* raw = pending.connection.get();
        const RunningReply running(raw, pending.callback, std::this_thread::get_id());
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (raw->closed || raw->detached.count(pending.callback))
                return;
            m_runningReplies.insert(running);
        }
        const uint32_t result =
            message ? pending.callback(pending.context, pending.replyIndex, &message->header, message->name.c_str(),
                                       message->source.c_str(), message->payload.c_str(), status)
                    : pending.callback(pending.context, pending.replyIndex, nullptr, L"", L"", L"", status);
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_runningReplies.erase(m_runningReplies.find(running));
        }
        m_changed.notify_all();
        record(Call::DeliverReply, raw->id, result, message.get(), 0, pending.replyIndex, 0, nullptr, status);
    });
}

void InProcessBus::waitUntil(std::unique_lock<std::mutex>& guard, const std::function<bool()>& done)
{
    m_changed.wait(guard, done);
}

double InProcessBus::scaleOf(const std::wstring& name) const
{
    // The map is sorted, so the last prefix of the name found is the longest.
    double scale = m_timeScale;
    for (const auto& prefix : m_prefixScales) {
        if (name.compare(0, prefix.first.size(), prefix.first) == 0)
            scale = prefix.second;
    }
    return scale;
}

InProcessBus::Clock::duration InProcessBus::scaled(uint64_t ms, double scale)
{
    const double scaledMs = std::min(static_cast<double>(ms) * scale, 1.0e9);
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(scaledMs));
}

void InProcessBus::schedule(Clock::time_point when, std::function<void()> action)
{
    m_timers.emplace(when, std::move(action));
    if (!m_timerRunning) {
        m_timerRunning = true;
        std::thread([this]() { runTimers(); }).detach();
    }
    m_timersChanged.notify_all();
}

void InProcessBus::runTimers()
{
    std::unique_lock<std::mutex> guard(m_lock);
    for (;;) {
        if (m_timers.empty()) {
            m_timersChanged.wait(guard);
            continue;
        }
        const Clock::time_point next = m_timers.begin()->first;
        if (Clock::now() < next) {
            m_timersChanged.wait_until(guard, next);
            continue;
        }
        std::function<void()> action = std::move(m_timers.begin()->second);
        m_timers.erase(m_timers.begin());
        action();
    }
}

// ---- control ----------------------------------------------------------------

void InProcessBus::reset()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_timeScale = 1.0;
        m_prefixScales.clear();
        m_getHandleStatus = 0;
        m_replyMode = ReplyMode::Normal;
        m_replyDelayMs = 0;
        m_deliverVersion1 = false;
        m_tableHole = kNoTableHole;
    }
    std::lock_guard<std::mutex> guard(m_journalLock);
    m_journal.clear();
}

void InProcessBus::setTimeScale(double scale)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_timeScale = scale > 0 ? scale : 1.0;
}

void InProcessBus::setTimeScaleFor(const wchar_t* namePrefix, double scale)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_prefixScales[namePrefix ? namePrefix : L""] = scale > 0 ? scale : 1.0;
}

double InProcessBus::timeScaleOf(const wchar_t* name) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return scaleOf(name ? name : L"");
}

uint32_t InProcessBus::getHandleStatus() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_getHandleStatus;
}

uint32_t InProcessBus::tableHole() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_tableHole;
}

void InProcessBus::setTableHole(uint32_t entry)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_tableHole = entry;
}

void InProcessBus::setGetHandleStatus(uint32_t status)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_getHandleStatus = status;
}

void InProcessBus::setReplyMode(ReplyMode mode, uint32_t delayMs)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_replyMode = mode;
    m_replyDelayMs = delayMs;
}

void InProcessBus::setDeliverVersion1(bool on)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_deliverVersion1 = on;
}

// Both count the connections through a broker too.
uint32_t InProcessBus::openConnections()
{
    std::unique_lock<std::mutex> guard(m_lock);
    const uint32_t here = static_cast<uint32_t>(m_connections.size());
    guard.unlock();
    return here + BrokerBus::instance().openConnections();
}

uint32_t InProcessBus::pendingRequests()
{
    std::unique_lock<std::mutex> guard(m_lock);
    const uint32_t here = static_cast<uint32_t>(m_pending.size());
    guard.unlock();
    return here + BrokerBus::instance().pendingRequests();
}

uint64_t InProcessBus::poolWakeups()
{
    return DeliveryPool::wakeups();
}

uint32_t InProcessBus::journalSize()
{
    std::lock_guard<std::mutex> guard(m_journalLock);
    return static_cast<uint32_t>(m_journal.size());
}

bool InProcessBus::journalEntry(uint32_t index, JournalEntry* entry)
{
    std::lock_guard<std::mutex> guard(m_journalLock);
    if (!entry || index >= m_journal.size())
        return false;
    *entry = m_journal[index];
    return true;
}

void InProcessBus::record(Call call, uint64_t connection, uint32_t status, const WireMessage* message,
                          uint32_t subscription, uint64_t replyIndex, uint64_t timeoutMs, const wchar_t* name,
                          uint32_t replyStatus)
{
    JournalEntry entry{};
    entry.call = call;
    entry.connection = connection;
    entry.subscription = subscription;
    entry.replyIndex = replyIndex;
    entry.timeoutMs = timeoutMs;
    entry.status = status;
    entry.replyStatus = replyStatus;
    if (message) {
        entry.flags = message->header.flags;
        entry.version = message->header.version;
        entry.messageId = message->header.messageId;
        entry.inReplyTo = message->header.inReplyTo;
        copyText(entry.name, message->name);
    } else if (name) {
        copyText(entry.name, name);
    }
    std::lock_guard<std::mutex> guard(m_journalLock);
    m_journal.push_back(entry);
}

} // namespace BusDouble
