#include "BrokerRouter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace BusBroker {

namespace {

// std::wregex overflows the stack on very long input: longer names are
// never matched against patterns, longer patterns are refused.
const size_t kLongestMatchedName = 1024;
const size_t kLongestPattern = 1024;
// Longer time-outs are cut to this (about eleven days).
const uint64_t kLongestTimeoutMs = 1000000000ull;

} // namespace

BrokerRouter::BrokerRouter() : m_timers([this]() { runTimers(); })
{
}

BrokerRouter::~BrokerRouter()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_deadlinesChanged.notify_all();
    m_timers.join();
}

void BrokerRouter::serve(std::unique_ptr<BrokerPipe> pipe)
{
    std::shared_ptr<BrokerSession> session;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        session = std::make_shared<BrokerSession>(++m_nextSession, std::move(pipe));
        m_sessions[session->id()] = session;
    }
    session->start([this](BrokerSession& from, const Frame& frame) { return onFrame(from, frame); },
                   [this](BrokerSession& from, const char* reason) { onEnd(from, reason); });
}

bool BrokerRouter::onFrame(BrokerSession& session, const Frame& frame)
{
    std::lock_guard<std::mutex> guard(m_lock);
    switch (static_cast<Operation>(frame.envelope.operation)) {
    case Operation::Subscribe:
    case Operation::SubscribeFilter:
        return subscribe(session, frame);
    case Operation::Unsubscribe:
        return unsubscribe(session, frame);
    case Operation::Publish:
        publish(session, frame);
        return true;
    case Operation::Request:
        request(session, frame);
        return true;
    default:
        // Close is the session's own; the broker's operations never come from a client.
        return false;
    }
}

void BrokerRouter::onEnd(BrokerSession& session, const char* reason)
{
    if (reason)
        std::fprintf(stderr, "OndrelBroker: connection %llu dropped: %s\n",
                     static_cast<unsigned long long>(session.id()), reason);
    std::lock_guard<std::mutex> guard(m_lock);
    const uint64_t id = session.id();
    for (auto it = m_subscriptions.begin(); it != m_subscriptions.end();)
        it = it->first.first == id ? m_subscriptions.erase(it) : std::next(it);
    for (auto it = m_pending.begin(); it != m_pending.end();)
        it = it->second.session == id ? m_pending.erase(it) : std::next(it);
    m_sessions.erase(id);
}

bool BrokerRouter::subscribe(BrokerSession& session, const Frame& frame)
{
    const SubscriptionKey key(session.id(), frame.envelope.token);
    if (frame.envelope.token == 0 || frame.envelope.sequence == 0 || m_subscriptions.count(key))
        return false;
    Subscription subscription;
    subscription.text = frame.name;
    subscription.pattern = frame.envelope.operation == static_cast<uint32_t>(Operation::SubscribeFilter);
    if (subscription.pattern) {
        if (subscription.text.size() > kLongestPattern) {
            acknowledge(session, frame.envelope.sequence, MODULE_STATUS_INVALID_PARAMETER);
            return true;
        }
        try {
            subscription.regex.assign(subscription.text, std::regex_constants::ECMAScript |
                                                             std::regex_constants::nosubs |
                                                             std::regex_constants::optimize);
        } catch (const std::regex_error&) {
            acknowledge(session, frame.envelope.sequence, MODULE_STATUS_INVALID_PARAMETER);
            return true;
        }
    }
    m_subscriptions[key] = std::move(subscription);
    acknowledge(session, frame.envelope.sequence, MODULE_STATUS_SUCCESS);
    return true;
}

bool BrokerRouter::unsubscribe(BrokerSession& session, const Frame& frame)
{
    // The client forgets the subscription first; one it never had is its mistake, not worth a drop.
    m_subscriptions.erase(SubscriptionKey(session.id(), frame.envelope.token));
    return true;
}

void BrokerRouter::publish(BrokerSession& session, const Frame& frame)
{
    if (frame.header.flags & (1u << MESSAGE_FLAG_REPLY)) {
        // A reply goes to its requester only, and only the first one counts.
        const uint64_t inReplyTo = frame.header.inReplyTo; // the packed field is not aligned for a reference
        auto found = m_pending.find(inReplyTo);
        if (found == m_pending.end())
            return;
        const Pending pending = found->second;
        m_pending.erase(found);
        Envelope envelope{static_cast<uint32_t>(Operation::Reply), MODULE_STATUS_SUCCESS, 0, pending.token, 0};
        sendTo(pending.session, envelope, frame.header, frame.name, frame.source, frame.payload);
        return;
    }
    Frame message = frame;
    message.header.messageId = ++m_nextMessageId;
    const uint64_t sender = session.id();
    std::memset(message.header.firstAddress, 0, sizeof(message.header.firstAddress));
    std::memcpy(message.header.firstAddress, &sender, sizeof(sender));
    deliver(matching(message.name), message);
}

void BrokerRouter::request(BrokerSession& session, const Frame& frame)
{
    const std::vector<SubscriptionKey> targets = matching(frame.name);
    if (targets.empty()) {
        acknowledge(session, frame.envelope.sequence, MODULE_STATUS_NO_SUBSCRIBERS);
        return;
    }
    Frame message = frame;
    const uint64_t messageId = ++m_nextMessageId;
    const uint64_t sender = session.id();
    MessageWireHeader& wire = message.header;
    wire.flags |= 1u << MESSAGE_FLAG_EXPECTS_REPLY;
    wire.messageId = messageId;
    std::memset(wire.firstAddress, 0, sizeof(wire.firstAddress));
    std::memcpy(wire.firstAddress, &sender, sizeof(sender));
    std::memset(wire.firstTag, 0, sizeof(wire.firstTag));
    std::memcpy(wire.firstTag, &messageId, sizeof(messageId));

    m_pending[messageId] = Pending{sender, frame.envelope.token};
    const uint64_t timeoutMs = std::min(frame.envelope.argument, kLongestTimeoutMs);
    m_deadlines.emplace(Clock::now() + std::chrono::milliseconds(timeoutMs), messageId);
    m_deadlinesChanged.notify_all();
    // Acknowledged before any delivery, so the requester knows of the request before its reply.
    acknowledge(session, frame.envelope.sequence, MODULE_STATUS_SUCCESS);
    deliver(targets, message);
}

std::vector<BrokerRouter::SubscriptionKey> BrokerRouter::matching(const std::wstring& name) const
{
    std::vector<SubscriptionKey> found;
    for (const auto& entry : m_subscriptions) {
        const Subscription& subscription = entry.second;
        const bool match = subscription.pattern
                               ? name.size() <= kLongestMatchedName && std::regex_match(name, subscription.regex)
                               : name == subscription.text;
        if (match)
            found.push_back(entry.first);
    }
    return found;
}

void BrokerRouter::deliver(const std::vector<SubscriptionKey>& targets, const Frame& message)
{
    for (const SubscriptionKey& target : targets) {
        Envelope envelope{static_cast<uint32_t>(Operation::Deliver), 0, 0, target.second, 0};
        sendTo(target.first, envelope, message.header, message.name, message.source, message.payload);
    }
}

void BrokerRouter::sendTo(uint64_t session, const Envelope& envelope, const MessageWireHeader& header,
                          const std::wstring& name, const std::wstring& source, const std::wstring& payload)
{
    auto found = m_sessions.find(session);
    if (found != m_sessions.end())
        found->second->send(encodeFrame(envelope, header, name, source, payload));
}

void BrokerRouter::acknowledge(BrokerSession& session, uint64_t sequence, uint32_t status)
{
    const Envelope envelope{static_cast<uint32_t>(Operation::Acknowledge), status, sequence, 0, 0};
    session.send(encodeFrame(envelope, defaultHeader(L"", L"", L""), L"", L"", L""));
}

void BrokerRouter::runTimers()
{
    std::unique_lock<std::mutex> guard(m_lock);
    while (!m_stopping) {
        if (m_deadlines.empty()) {
            m_deadlinesChanged.wait(guard);
            continue;
        }
        const Clock::time_point next = m_deadlines.begin()->first;
        if (Clock::now() < next) {
            m_deadlinesChanged.wait_until(guard, next);
            continue;
        }
        const uint64_t messageId = m_deadlines.begin()->second;
        m_deadlines.erase(m_deadlines.begin());
        auto found = m_pending.find(messageId);
        if (found == m_pending.end())
            continue;
        const Pending pending = found->second;
        m_pending.erase(found);
        const Envelope envelope{static_cast<uint32_t>(Operation::Reply), MODULE_STATUS_TIMEOUT, 0, pending.token, 0};
        sendTo(pending.session, envelope, defaultHeader(L"", L"", L""), L"", L"", L"");
    }
}

} // namespace BusBroker
