#pragma once
// What the bus tests share: the double's switches set back before each test,
// a shim that records what the client asks of it, and the journal's entries.
#include "RawBusPeer.h"

#include "message/MessageBusShim.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace BusTest {

// A time-out no answer misses, even on a loaded machine.
const std::chrono::milliseconds kAnswered(100000);

class BusFixture : public ::testing::Test {
protected:
    // Every request keeps its real time-out; a test that expects time-outs
    // shortens them itself.
    void SetUp() override { control().reset(); }
    static BusDouble::BusDoubleControl& control() { return BusDouble::RawBusPeer::control(); }
    static std::vector<BusDouble::JournalEntry> journal(BusDouble::Call call);
};

// A shim that answers from its settings and records every call.
class RecordingShim : public Ostrand::MessageBusShim {
public:
    struct Call {
        std::wstring what;
        uint32_t id = 0;
        uint64_t replyIndex = 0;
        uint32_t flags = 0;
        uint64_t inReplyTo = 0;
    };

    uint32_t publish(const std::shared_ptr<Ostrand::Message> message, bool ex) override;
    uint32_t request(const std::shared_ptr<Ostrand::Message> message, uint64_t replyIndex,
                     ReplyFunction* replyFunction, uint64_t timeoutMs, bool ex) override;
    uint32_t detachReplyCallback() override;
    uint32_t subscribe(const std::wstring& name, SubscriberFunction* callback) override;
    uint32_t subscribeFilter(const std::wstring& pattern, SubscriberFunction* callback) override;
    uint32_t unsubscribe(uint32_t id) override;

    std::vector<Call> calls();

    std::vector<uint32_t> publishStatuses; // one per publish, then 0
    uint32_t requestStatus = 0;
    bool refuseSubscriptions = false;      // subscribe answers id 0
    ReplyFunction* replyFunction = nullptr;

private:
    std::mutex m_lock;
    std::vector<Call> m_calls;
    uint32_t m_nextId = 100;
};

} // namespace BusTest
