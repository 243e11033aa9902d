#pragma once
// A bus participant for tests that speaks to the bus library's table
// directly, without the SDK's client: the other side of the client's tests.
#include "BusDoubleControl.h"

#include "MessageBusFunctions.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace BusDouble {

class RawBusPeer {
public:
    struct Delivery {
        MessageWireHeader header;
        std::wstring name;
        std::wstring source;
        std::wstring payload;
    };
    struct Answer {
        uint64_t replyIndex = 0;
        uint32_t status = 0;
        Delivery reply;
    };
    // Called on the bus's delivery thread for every message delivered to this peer.
    using Responder = std::function<void(RawBusPeer&, const Delivery&)>;

    // Opens a connection on the bus library beside the program; throws
    // std::runtime_error when there is none.
    RawBusPeer();
    ~RawBusPeer();
    RawBusPeer(const RawBusPeer&) = delete;
    RawBusPeer& operator=(const RawBusPeer&) = delete;

    static const MessageBusFunctions& table();
    static BusDoubleControl& control();
    void* handle() const { return m_handle; }

    uint32_t subscribe(const std::wstring& name);
    uint32_t subscribeFilter(const std::wstring& pattern);
    uint32_t unsubscribe(uint32_t id);
    void setResponder(Responder responder);

    // The next delivery not yet taken; false at the deadline.
    bool waitForDelivery(Delivery& delivery, std::chrono::milliseconds timeout = std::chrono::seconds(30));
    size_t deliveryCount();

    static MessageWireHeader makeHeader(const std::wstring& name, const std::wstring& source,
                                        const std::wstring& payload, uint32_t flags = 0);
    uint32_t publish(const std::wstring& name, const std::wstring& source, const std::wstring& payload,
                     uint32_t flags = 0);
    // Answers a delivered request the way the bus expects a reply.
    uint32_t reply(const Delivery& request, const std::wstring& name, const std::wstring& payload,
                   uint32_t extraFlags = 0);
    uint32_t request(const std::wstring& name, const std::wstring& payload, uint64_t timeoutMs, uint64_t replyIndex);
    bool waitForAnswer(Answer& answer, std::chrono::milliseconds timeout = std::chrono::seconds(30));

private:
    static MODULE_STATUS onMessage(void* context, const MessageWireHeader* header, const wchar_t* name,
                                   const wchar_t* source, const wchar_t* payload);
    static MODULE_STATUS onReply(void* context, uint64_t replyIndex, const MessageWireHeader* header,
                                 const wchar_t* name, const wchar_t* source, const wchar_t* payload, uint32_t status);

    void* m_handle = nullptr;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<Delivery> m_deliveries;
    size_t m_deliveryCount = 0;
    std::deque<Answer> m_answers;
    Responder m_responder;
};

} // namespace BusDouble
