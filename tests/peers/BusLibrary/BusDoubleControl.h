#pragma once
// What a test can set on the bus library double and read back from it. The
// double's CreateObject hands this out when asked for kBusDoubleControlVersion.
#include <cstdint>

namespace BusDouble {

const uint32_t kBusDoubleControlVersion = 0x0B05C7A1u;
const uint32_t kNoTableHole = 0xFFFFFFFFu;

enum class Call : uint32_t {
    GetHandle,
    Release,
    Publish,
    PublishEx,
    Request,
    RequestEx,
    Subscribe,
    SubscribeFilter,
    Unsubscribe,
    DetachReplyCallback,
    DeliverMessage,   // a subscription callback was called
    DeliverReply,     // a reply callback was called (status says how)
};

enum class ReplyMode : uint32_t {
    Normal,
    Drop,    // replies never reach the requester; the request times out
    Double,  // each reply reaches the requester twice
    Delay,   // each reply reaches the requester after the set delay
};

// One call the double saw. Text longer than the buffers is cut.
struct JournalEntry {
    Call call;
    uint64_t connection;      // 0 when the call named no open connection
    uint32_t subscription;    // subscription id, when the call has one
    uint64_t replyIndex;
    uint64_t timeoutMs;
    uint32_t flags;           // header flags as the double received or delivered them
    uint16_t version;         // header version as received or delivered
    uint64_t messageId;
    uint64_t inReplyTo;
    uint32_t status;          // what the call returned, or what the callback returned
    uint32_t replyStatus;     // DeliverReply: the status handed to the reply callback
    wchar_t name[128];
};

class BusDoubleControl {
public:
    // Every switch back to normal, journal emptied. Open connections stay.
    virtual void reset() = 0;
    // Request time-outs and reply delays are multiplied by this (1.0: real
    // time), for every request no setTimeScaleFor prefix matches.
    virtual void setTimeScale(double scale) = 0;
    // getHandle answers this status (0: it works).
    virtual void setGetHandleStatus(uint32_t status) = 0;
    virtual void setReplyMode(ReplyMode mode, uint32_t delayMs) = 0;
    // Deliveries carry a 100-byte version-1 header.
    virtual void setDeliverVersion1(bool on) = 0;

    virtual uint32_t openConnections() = 0;
    virtual uint32_t pendingRequests() = 0;
    virtual uint32_t journalSize() = 0;
    // False past the end.
    virtual bool journalEntry(uint32_t index, JournalEntry* entry) = 0;

    // CreateObject hands out a table whose entry `entry` (0 to 9) is null;
    // kNoTableHole (the default, and after reset) hands out the whole table.
    virtual void setTableHole(uint32_t entry) = 0;
    // The scale for requests whose name starts with `namePrefix` (and the
    // delays of their replies): a test shortens the time-outs of the service
    // it means to, while its own requests keep their real time. The longest
    // matching prefix counts; reset forgets them all.
    virtual void setTimeScaleFor(const wchar_t* namePrefix, double scale) = 0;
    // How often a delivery thread of this process (of any connection, in
    // process or through the broker) has come back from a wait. A pool with
    // nothing to deliver sleeps without a time-out, so this stays put while
    // the bus is idle. Never reset.
    virtual uint64_t poolWakeups() = 0;

protected:
    ~BusDoubleControl() = default;
};

} // namespace BusDouble
