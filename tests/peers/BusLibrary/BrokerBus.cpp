#include "BrokerBus.h"

#include "InProcessBus.h"

#include <windows.h>

#include <algorithm>
#include <chrono>

namespace BusDouble {

using BusBroker::BrokerPipe;
using BusBroker::Envelope;
using BusBroker::Frame;
using BusBroker::FrameFault;
using BusBroker::Operation;

namespace {

// How long a new connection waits for a busy broker, and a call for its acknowledgement.
const DWORD kConnectWaitMs = 10000;
const auto kAnswerWait = std::chrono::seconds(30);
// How long release waits for the broker to close the connection it was asked to close.
const auto kCloseWait = std::chrono::seconds(5);
// Longer (scaled) time-outs are cut to this, as the broker cuts them.
const double kLongestTimeoutMs = 1.0e9;

Envelope envelopeOf(Operation operation, uint64_t token = 0, uint64_t argument = 0)
{
    return Envelope{static_cast<uint32_t>(operation), 0, 0, token, argument};
}

MessageWireHeader emptyHeader()
{
    return BusBroker::defaultHeader(L"", L"", L"");
}

} // namespace

BrokerBus& BrokerBus::instance()
{
    // Never destroyed: reading and delivery threads may still run at process exit.
    static BrokerBus* bus = new BrokerBus();
    return *bus;
}

std::wstring BrokerBus::configuredPipe()
{
    std::wstring value(64, L'\0');
    for (;;) {
        const DWORD length =
            GetEnvironmentVariableW(BusBroker::kBrokerPipeVariable, &value[0], static_cast<DWORD>(value.size()));
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        // Too small: the length asked for counts the terminator.
        value.resize(length);
    }
}

bool BrokerBus::owns(void* handle) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_connections.count(handle) != 0;
}

std::shared_ptr<BrokerBus::Connection> BrokerBus::connectionOf(void* handle) const
{
    auto found = m_connections.find(handle);
    return found == m_connections.end() ? nullptr : found->second;
}

// ---- the entries ------------------------------------------------------------

uint32_t BrokerBus::openConnections() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<uint32_t>(m_connections.size());
}

uint32_t BrokerBus::pendingRequests() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    size_t count = 0;
    for (const auto& entry : m_connections)
        count += entry.second->pending.size();
    return static_cast<uint32_t>(count);
}

MODULE_STATUS BrokerBus::getHandle(void** handle, const std::wstring& pipe)
{
    if (!handle)
        return MODULE_STATUS_INVALID_PARAMETER;
    auto connection = std::make_shared<Connection>();
    connection->pipe = BrokerPipe::connect(pipe, kConnectWaitMs);
    connection->stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!connection->pipe || !connection->stop.valid())
        return MODULE_STATUS_UNSUCCESSFUL;
    connection->messages.reset(new DeliveryPool());
    connection->replies.reset(new DeliveryPool());
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_connections[connection.get()] = connection;
        connection->reader = std::thread([this, connection]() { readLoop(connection); });
    }
    *handle = connection.get();
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS BrokerBus::release(void* handle)
{
    std::shared_ptr<Connection> connection;
    {
        std::unique_lock<std::mutex> guard(m_lock);
        connection = connectionOf(handle);
        if (!connection)
            return MODULE_STATUS_INVALID_HANDLE;
        m_connections.erase(handle);
        connection->closed = true;
        for (auto& entry : connection->subscriptions)
            entry.second->active = false;
        connection->subscriptions.clear();
        connection->pending.clear();
        Connection* raw = connection.get();
        const auto self = std::this_thread::get_id();
        m_changed.wait(guard, [&]() {
            return std::none_of(m_runningReplies.begin(), m_runningReplies.end(), [&](const RunningReply& running) {
                return std::get<0>(running) == raw && std::get<2>(running) != self;
            });
        });
    }
    // The broker closes the pipe once it has routed everything sent before,
    // and the reading thread ends with it.
    if (send(*connection, envelopeOf(Operation::Close), emptyHeader(), L"", L"", L"")) {
        std::unique_lock<std::mutex> guard(m_lock);
        m_changed.wait_for(guard, kCloseWait, [&]() { return connection->lost; });
    }
    SetEvent(connection->stop.get());
    connection->reader.join();
    // Outside the lock: the pools wait for their threads, which may want it.
    connection->messages.reset();
    connection->replies.reset();
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS BrokerBus::publish(void* handle, const MessageWireHeader* header, const wchar_t* name,
                                 const wchar_t* source, const wchar_t* payload)
{
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        connection = connectionOf(handle);
    }
    if (!connection)
        return MODULE_STATUS_INVALID_HANDLE;
    if (!header || !name || !source || !payload)
        return MODULE_STATUS_INVALID_PARAMETER;
    const std::vector<uint8_t> frame =
        BusBroker::encodeFrame(envelopeOf(Operation::Publish), BusBroker::widenedHeader(header), name, source, payload);
    if (frame.empty())
        return MODULE_STATUS_INVALID_PARAMETER;
    std::lock_guard<std::mutex> writing(connection->writeLock);
    return connection->pipe->write(frame, connection->stop.get()) ? MODULE_STATUS_SUCCESS : MODULE_STATUS_UNSUCCESSFUL;
}

MODULE_STATUS BrokerBus::request(void* handle, uint64_t replyIndex, void* context, MessageBusReplyCallback callback,
                                 const MessageWireHeader* header, const wchar_t* name, const wchar_t* source,
                                 const wchar_t* payload, uint64_t timeoutMs)
{
    std::shared_ptr<Connection> connection;
    uint64_t token = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        connection = connectionOf(handle);
        if (!connection)
            return MODULE_STATUS_INVALID_HANDLE;
        if (!header || !name || !source || !payload || !callback)
            return MODULE_STATUS_INVALID_PARAMETER;
        // Known before the broker can answer: the reply may come before the acknowledgement is read.
        token = ++connection->nextToken;
        connection->pending[token] = PendingRequest{replyIndex, context, callback, false};
        // A new request attaches its callback again.
        connection->detached.erase(callback);
    }
    const double scale = InProcessBus::instance().timeScaleOf(name);
    const double scaledMs = std::min(static_cast<double>(timeoutMs) * scale, kLongestTimeoutMs);
    Envelope envelope = envelopeOf(Operation::Request, token, static_cast<uint64_t>(scaledMs));
    const uint32_t status = call(connection, envelope, BusBroker::widenedHeader(header), name, source, payload);
    if (status != MODULE_STATUS_SUCCESS) {
        std::lock_guard<std::mutex> guard(m_lock);
        connection->pending.erase(token);
    }
    return status;
}

uint32_t BrokerBus::subscribe(void* handle, void* context, MessageBusSubscriptionCallback callback,
                              const wchar_t* text, bool pattern)
{
    std::shared_ptr<Connection> connection;
    uint32_t id = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        connection = connectionOf(handle);
        if (!connection || !callback || !text)
            return 0;
        do {
            id = ++m_nextSubscription;
        } while (id == 0 || connection->subscriptions.count(id));
        // Known before the broker can deliver: a delivery may follow the acknowledgement at once.
        auto subscription = std::make_shared<Subscription>();
        subscription->context = context;
        subscription->callback = callback;
        connection->subscriptions[id] = subscription;
    }
    const Envelope envelope = envelopeOf(pattern ? Operation::SubscribeFilter : Operation::Subscribe, id);
    if (call(connection, envelope, emptyHeader(), text, L"", L"") == MODULE_STATUS_SUCCESS)
        return id;
    std::lock_guard<std::mutex> guard(m_lock);
    auto found = connection->subscriptions.find(id);
    if (found != connection->subscriptions.end()) {
        found->second->active = false;
        connection->subscriptions.erase(found);
    }
    return 0;
}

MODULE_STATUS BrokerBus::unsubscribe(void* handle, uint32_t id)
{
    std::shared_ptr<Connection> connection;
    {
        std::unique_lock<std::mutex> guard(m_lock);
        connection = connectionOf(handle);
        if (!connection)
            return MODULE_STATUS_INVALID_HANDLE;
        auto found = connection->subscriptions.find(id);
        if (found == connection->subscriptions.end())
            return MODULE_STATUS_NOT_FOUND;
        std::shared_ptr<Subscription> subscription = found->second;
        subscription->active = false;
        connection->subscriptions.erase(found);
        // Deliveries already running finish first, except one on this very
        // thread (a subscriber removing itself), which would wait for itself.
        const auto self = std::this_thread::get_id();
        m_changed.wait(guard, [&]() {
            return std::all_of(subscription->running.begin(), subscription->running.end(),
                               [&](const std::thread::id& thread) { return thread == self; });
        });
    }
    // Deliveries still on their way are dropped here; the broker only stops sending more.
    send(*connection, envelopeOf(Operation::Unsubscribe, id), emptyHeader(), L"", L"", L"");
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS BrokerBus::detachReplyCallback(void* handle, MessageBusReplyCallback callback)
{
    std::unique_lock<std::mutex> guard(m_lock);
    std::shared_ptr<Connection> connection = connectionOf(handle);
    if (!connection)
        return MODULE_STATUS_INVALID_HANDLE;
    connection->detached.insert(callback);
    for (auto it = connection->pending.begin(); it != connection->pending.end();)
        it = it->second.callback == callback ? connection->pending.erase(it) : std::next(it);
    Connection* raw = connection.get();
    const auto self = std::this_thread::get_id();
    m_changed.wait(guard, [&]() {
        return std::none_of(m_runningReplies.begin(), m_runningReplies.end(), [&](const RunningReply& running) {
            return std::get<0>(running) == raw && std::get<1>(running) == callback && std::get<2>(running) != self;
        });
    });
    return MODULE_STATUS_SUCCESS;
}

// ---- the connection -----------------------------------------------------------

bool BrokerBus::send(Connection& connection, const Envelope& envelope, const MessageWireHeader& header,
                     const std::wstring& name, const std::wstring& source, const std::wstring& payload)
{
    const std::vector<uint8_t> frame = BusBroker::encodeFrame(envelope, header, name, source, payload);
    std::lock_guard<std::mutex> writing(connection.writeLock);
    return connection.pipe->write(frame, connection.stop.get());
}

uint32_t BrokerBus::call(const std::shared_ptr<Connection>& connection, Envelope envelope,
                         const MessageWireHeader& header, const std::wstring& name, const std::wstring& source,
                         const std::wstring& payload)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        envelope.sequence = ++m_nextSequence;
        if (envelope.operation == static_cast<uint32_t>(Operation::Request))
            connection->requestCalls[envelope.sequence] = envelope.token;
    }
    const uint64_t sequence = envelope.sequence;
    uint32_t status = MODULE_STATUS_UNSUCCESSFUL;
    if (BusBroker::encodeFrame(envelope, header, name, source, payload).empty()) {
        status = MODULE_STATUS_INVALID_PARAMETER;
    } else if (send(*connection, envelope, header, name, source, payload)) {
        std::unique_lock<std::mutex> guard(m_lock);
        m_changed.wait_for(guard, kAnswerWait,
                           [&]() { return connection->lost || connection->answers.count(sequence) != 0; });
        auto answer = connection->answers.find(sequence);
        if (answer != connection->answers.end()) {
            status = answer->second;
            connection->answers.erase(answer);
        }
    }
    std::lock_guard<std::mutex> guard(m_lock);
    connection->requestCalls.erase(sequence);
    return status;
}

void BrokerBus::readLoop(std::shared_ptr<Connection> connection)
{
    std::vector<uint8_t> bytes;
    while (connection->pipe->read(bytes, connection->stop.get()) == BrokerPipe::ReadResult::Frame) {
        auto frame = std::make_shared<Frame>();
        if (BusBroker::decodeFrame(bytes.data(), bytes.size(), *frame) != FrameFault::None)
            break;
        const Operation operation = static_cast<Operation>(frame->envelope.operation);
        if (operation == Operation::Acknowledge) {
            std::lock_guard<std::mutex> guard(m_lock);
            const uint64_t sequence = frame->envelope.sequence;
            connection->answers[sequence] = frame->envelope.status;
            auto request = connection->requestCalls.find(sequence);
            if (request != connection->requestCalls.end() && frame->envelope.status == MODULE_STATUS_SUCCESS) {
                auto pending = connection->pending.find(request->second);
                if (pending != connection->pending.end())
                    pending->second.acknowledged = true;
            }
            m_changed.notify_all();
        } else if (operation == Operation::Deliver) {
            onDeliver(connection, frame);
        } else if (operation == Operation::Reply) {
            onReply(connection, frame);
        } else {
            break;
        }
    }
    onLost(connection);
}

void BrokerBus::onDeliver(const std::shared_ptr<Connection>& connection, const std::shared_ptr<Frame>& frame)
{
    std::shared_ptr<Subscription> subscription;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (connection->closed || frame->envelope.token > UINT32_MAX)
            return;
        auto found = connection->subscriptions.find(static_cast<uint32_t>(frame->envelope.token));
        if (found == connection->subscriptions.end())
            return;
        subscription = found->second;
    }
    connection->messages->post([this, subscription, frame]() {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (!subscription->active)
                return;
            subscription->running.insert(std::this_thread::get_id());
        }
        subscription->callback(subscription->context, &frame->header, frame->name.c_str(), frame->source.c_str(),
                               frame->payload.c_str());
        {
            std::lock_guard<std::mutex> guard(m_lock);
            subscription->running.erase(subscription->running.find(std::this_thread::get_id()));
        }
        m_changed.notify_all();
    });
}

void BrokerBus::onReply(const std::shared_ptr<Connection>& connection, const std::shared_ptr<Frame>& frame)
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto found = connection->pending.find(frame->envelope.token);
    if (found == connection->pending.end())
        return;
    const PendingRequest pending = found->second;
    connection->pending.erase(found);
    const uint32_t status = frame->envelope.status;
    postReply(connection, pending, status == MODULE_STATUS_SUCCESS ? frame : nullptr, status);
}

void BrokerBus::postReply(const std::shared_ptr<Connection>& connection, const PendingRequest& pending,
                          std::shared_ptr<Frame> message, uint32_t status)
{
    if (connection->closed || !connection->replies)
        return;
    Connection* raw = connection.get();
    connection->replies->post([this, raw, pending, message, status]() {
        const RunningReply running(raw, pending.callback, std::this_thread::get_id());
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (raw->closed || raw->detached.count(pending.callback))
                return;
            m_runningReplies.insert(running);
        }
        if (message)
            pending.callback(pending.context, pending.replyIndex, &message->header, message->name.c_str(),
                             message->source.c_str(), message->payload.c_str(), status);
        else
            pending.callback(pending.context, pending.replyIndex, nullptr, L"", L"", L"", status);
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_runningReplies.erase(m_runningReplies.find(running));
        }
        m_changed.notify_all();
    });
}

void BrokerBus::onLost(const std::shared_ptr<Connection>& connection)
{
    std::lock_guard<std::mutex> guard(m_lock);
    connection->lost = true;
    // Requests the broker took will never be answered now; the others fail in their caller.
    for (auto it = connection->pending.begin(); it != connection->pending.end();) {
        if (!it->second.acknowledged) {
            ++it;
            continue;
        }
        postReply(connection, it->second, nullptr, MODULE_STATUS_UNSUCCESSFUL);
        it = connection->pending.erase(it);
    }
    m_changed.notify_all();
}

} // namespace BusDouble
