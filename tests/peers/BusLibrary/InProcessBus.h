#pragma once
#include "BusDoubleControl.h"
#include "DeliveryPool.h"

#include "MessageBusFunctions.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace BusDouble {

// A message as the bus carries it: the wire header (always kept as version
// 2) and its three texts. The unit a broker between processes would move.
struct WireMessage {
    MessageWireHeader header;
    std::wstring name;
    std::wstring source;
    std::wstring payload;
};

// A real bus inside one process: every connection opened here reaches every
// other. Each connection has its own delivery threads for messages and for
// replies, so a reply never waits behind a subscriber that waits for it.
class InProcessBus : public BusDoubleControl {
public:
    static InProcessBus& instance();

    MODULE_STATUS getHandle(void** handle);
    MODULE_STATUS release(void* handle);
    MODULE_STATUS publish(void* handle, const MessageWireHeader* header, const wchar_t* name, const wchar_t* source,
                          const wchar_t* payload, bool ex);
    MODULE_STATUS request(void* handle, uint64_t replyIndex, void* context, MessageBusReplyCallback callback,
                          const MessageWireHeader* header, const wchar_t* name, const wchar_t* source,
                          const wchar_t* payload, uint64_t timeoutMs, bool ex);
    uint32_t subscribe(void* handle, void* context, MessageBusSubscriptionCallback callback, const wchar_t* text,
                       bool pattern);
    MODULE_STATUS unsubscribe(void* handle, uint32_t id);
    MODULE_STATUS detachReplyCallback(void* handle, MessageBusReplyCallback callback);

    // What a connection through the broker takes from this process's switches.
    double timeScaleOf(const wchar_t* name) const;
    uint32_t getHandleStatus() const;
    uint32_t tableHole() const;

    void reset() override;
    void setTimeScale(double scale) override;
    void setGetHandleStatus(uint32_t status) override;
    void setReplyMode(ReplyMode mode, uint32_t delayMs) override;
    void setDeliverVersion1(bool on) override;
    uint32_t openConnections() override;
    uint32_t pendingRequests() override;
    uint32_t journalSize() override;
    bool journalEntry(uint32_t index, JournalEntry* entry) override;
    void setTableHole(uint32_t entry) override;
    void setTimeScaleFor(const wchar_t* namePrefix, double scale) override;
    uint64_t poolWakeups() override;

private:
    using Clock = std::chrono::steady_clock;

    struct Connection {
        uint64_t id = 0;
        bool closed = false;
        std::set<MessageBusReplyCallback> detached;
        std::unique_ptr<DeliveryPool> messages;
        std::unique_ptr<DeliveryPool> replies;
    };
    struct Subscription {
        uint32_t id = 0;
        std::shared_ptr<Connection> connection;
        void* context = nullptr;
        MessageBusSubscriptionCallback callback = nullptr;
        std::wstring text;
        bool pattern = false;
        std::wregex regex;
        bool active = true;
        std::multiset<std::thread::id> running;
    };
    struct PendingRequest {
        std::shared_ptr<Connection> connection;
        uint64_t replyIndex = 0;
        void* context = nullptr;
        MessageBusReplyCallback callback = nullptr;
        double timeScale = 1.0;
    };
    using RunningReply = std::tuple<Connection*, MessageBusReplyCallback, std::thread::id>;

    InProcessBus() = default;

    // All of these expect m_lock held.
    std::shared_ptr<Connection> connectionOf(void* handle) const;
    std::vector<std::shared_ptr<Subscription>> matching(const std::wstring& name) const;
    void deliver(const std::vector<std::shared_ptr<Subscription>>& targets, const std::shared_ptr<WireMessage>& message);
    void deliverReply(const PendingRequest& pending, const std::shared_ptr<WireMessage>& message, uint32_t status);
    void waitUntil(std::unique_lock<std::mutex>& guard, const std::function<bool()>& done);
    void schedule(Clock::time_point when, std::function<void()> action);
    double scaleOf(const std::wstring& name) const;
    static Clock::duration scaled(uint64_t ms, double scale);
    std::shared_ptr<WireMessage> carry(const MessageWireHeader* header, const wchar_t* name, const wchar_t* source,
                                       const wchar_t* payload) const;

    void runTimers();
    void record(Call call, uint64_t connection, uint32_t status, const WireMessage* message = nullptr,
                uint32_t subscription = 0, uint64_t replyIndex = 0, uint64_t timeoutMs = 0, const wchar_t* name = nullptr,
                uint32_t replyStatus = 0);

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::map<void*, std::shared_ptr<Connection>> m_connections;
    std::map<uint32_t, std::shared_ptr<Subscription>> m_subscriptions;
    std::map<uint64_t, PendingRequest> m_pending;
    std::multiset<RunningReply> m_runningReplies;
    uint64_t m_nextConnection = 0;
    uint32_t m_nextSubscription = 0;
    uint64_t m_nextMessageId = 0;

    double m_timeScale = 1.0;
    std::map<std::wstring, double> m_prefixScales;
    uint32_t m_getHandleStatus = 0;
    ReplyMode m_replyMode = ReplyMode::Normal;
    uint32_t m_replyDelayMs = 0;
    bool m_deliverVersion1 = false;
    uint32_t m_tableHole = kNoTableHole;

    std::multimap<Clock::time_point, std::function<void()>> m_timers;
    std::condition_variable m_timersChanged;
    bool m_timerRunning = false;

    std::mutex m_journalLock;
    std::vector<JournalEntry> m_journal;
};

} // namespace BusDouble
