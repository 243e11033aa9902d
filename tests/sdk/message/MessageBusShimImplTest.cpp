#include "BusTestSupport.h"

#include "PackedField.h"
#include "WaitableCounter.h"
#include "dll/ModuleException.h"
#include "message/MessageBusShimImpl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <stdexcept>

using BusDouble::Call;
using BusDouble::RawBusPeer;
using Ostrand::Message;
using Ostrand::MessageBusShim;
using Ostrand::MessageBusShimImpl;
using TestSupport::field;

namespace {

class ShimTest : public BusTest::BusFixture {
protected:
    RawBusPeer peer; // owns the handle the shim borrows
    MessageBusShimImpl shim{peer.handle(), &RawBusPeer::table()};
};

struct ReplySeen {
    std::mutex lock;
    TestSupport::WaitableCounter arrived;
    int calls = 0;
    uint64_t index = 0;
    std::shared_ptr<Message> message;
    uint32_t status = 0;
};

MessageBusShim::ReplyFunction recordInto(ReplySeen& seen)
{
    return [&seen](uint64_t index, const std::shared_ptr<Message> message, uint32_t status) -> uint32_t {
        {
            std::lock_guard<std::mutex> guard(seen.lock);
            ++seen.calls;
            seen.index = index;
            seen.message = message;
            seen.status = status;
        }
        seen.arrived.increment();
        return 0;
    };
}

} // namespace

TEST(MessageBusShimImplConstruction, RefusesAMissingHandleOrTable)
{
    const MessageBusFunctions table{};
    int handle = 0;
    struct Case { void* handle; const MessageBusFunctions* table; const char* what; };
    for (const Case& c : {Case{nullptr, &table, "Invalid message bus handle"},
                          Case{&handle, nullptr, "Invalid message bus functions object"}}) {
        try {
            MessageBusShimImpl shim(c.handle, c.table);
            ADD_FAILURE() << "no exception for " << c.what;
        } catch (const Ostrand::ModuleException& error) {
            EXPECT_STREQ(c.what, error.what());
        }
    }
}

// A table that lacks any one of its ten entries cannot serve: it is refused
// as a whole when the shim is made, not found out at that entry's first call.
TEST(MessageBusShimImplConstruction, RefusesATableWithAnyEntryMissing)
{
    RawBusPeer peer;
    for (size_t entry = 0; entry < 10; ++entry) {
        void* entries[10];
        static_assert(sizeof(entries) == sizeof(MessageBusFunctions), "ten entries");
        std::memcpy(entries, &RawBusPeer::table(), sizeof(entries));
        entries[entry] = nullptr;
        MessageBusFunctions table;
        std::memcpy(&table, entries, sizeof(table));
        try {
            MessageBusShimImpl shim(peer.handle(), &table);
            ADD_FAILURE() << "a table without entry " << entry;
        } catch (const Ostrand::ModuleException& error) {
            EXPECT_STREQ("Invalid message bus functions object", error.what()) << "entry " << entry;
        }
    }
}

TEST_F(ShimTest, PublishAndRequestPickTheirEntryByEx)
{
    RawBusPeer answering;
    answering.subscribe(L"q");
    const auto message = Message::create(L"q", L"s", L"p");
    ReplySeen seen;
    MessageBusShim::ReplyFunction function = recordInto(seen);

    EXPECT_EQ(0u, shim.publish(message, false));
    EXPECT_EQ(0u, shim.publish(message, true));
    EXPECT_EQ(0u, shim.request(message, 4, &function, 123456789012ull, false));
    EXPECT_EQ(0u, shim.request(message, 5, &function, 7, true));

    ASSERT_EQ(1u, journal(Call::Publish).size());
    ASSERT_EQ(1u, journal(Call::PublishEx).size());
    ASSERT_EQ(1u, journal(Call::Request).size());
    ASSERT_EQ(1u, journal(Call::RequestEx).size());
    EXPECT_EQ(123456789012ull, field(journal(Call::Request)[0].timeoutMs));
    EXPECT_EQ(4u, field(journal(Call::Request)[0].replyIndex));
    EXPECT_EQ(7u, field(journal(Call::RequestEx)[0].timeoutMs));
}

TEST_F(ShimTest, AnEmptyMessageNeverReachesTheLibrary)
{
    ReplySeen seen;
    MessageBusShim::ReplyFunction function = recordInto(seen);
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, shim.publish(nullptr, false));
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, shim.request(nullptr, 0, &function, 10, true));
    EXPECT_TRUE(journal(Call::Publish).empty());
    EXPECT_TRUE(journal(Call::RequestEx).empty());
}

TEST_F(ShimTest, AnsweredAndTimedOutRequestsReachTheReplyFunction)
{
    RawBusPeer answering;
    answering.subscribe(L"q");
    answering.setResponder([](RawBusPeer& self, const RawBusPeer::Delivery& request) {
        if (request.payload == L"answer me")
            self.reply(request, L"r", L"answer");
    });
    ReplySeen answered;
    ReplySeen ignored;
    MessageBusShim::ReplyFunction answeredFunction = recordInto(answered);
    MessageBusShim::ReplyFunction ignoredFunction = recordInto(ignored);
    control().setDeliverVersion1(true);

    ASSERT_EQ(0u, shim.request(Message::create(L"q", L"s", L"answer me"), 11, &answeredFunction, 100000, false));
    ASSERT_EQ(0u, shim.request(Message::create(L"q", L"s", L"not me"), 12, &ignoredFunction, 5000, false));
    ASSERT_TRUE(answered.arrived.waitFor(1, std::chrono::seconds(10)));
    ASSERT_TRUE(ignored.arrived.waitFor(1, std::chrono::seconds(10)));
    std::lock_guard<std::mutex> guardAnswered(answered.lock);
    std::lock_guard<std::mutex> guardIgnored(ignored.lock);
    ASSERT_EQ(1, answered.calls);
    EXPECT_EQ(11u, answered.index);
    EXPECT_EQ(0u, answered.status);
    ASSERT_TRUE(answered.message);
    EXPECT_EQ(L"answer", answered.message->payload());
    EXPECT_TRUE(answered.message->header()->testFlag(MESSAGE_FLAG_REPLY));

    ASSERT_EQ(1, ignored.calls);
    EXPECT_EQ(12u, ignored.index);
    EXPECT_EQ(MODULE_STATUS_TIMEOUT, ignored.status);
    EXPECT_EQ(nullptr, ignored.message);
}

TEST(MessageBusShimImplCallbacks, ReplyHeaderArrivesAsTheLibraryGaveItUpgradedWhenVersion1)
{
    ReplySeen seen;
    MessageBusShim::ReplyFunction function = recordInto(seen);
    for (uint16_t version : {uint16_t(2), uint16_t(1)}) {
        MessageWireHeader header = RawBusPeer::makeHeader(L"r", L"s", L"p", 1);
        header.messageId = 99;
        header.session.sessionId = 4;
        if (version == 1) {
            header.version = 1;
            header.totalSize -= 8;
        }
        EXPECT_EQ(0u, MessageBusShimImpl::onReplyMessage(&function, 3, &header, L"r", L"s", L"p", 0));
        ASSERT_TRUE(seen.message);
        EXPECT_EQ(2, field(seen.message->header()->version));
        EXPECT_EQ(99u, field(seen.message->header()->messageId));
        EXPECT_EQ(seen.message->expectedSize(), field(seen.message->header()->totalSize));
        EXPECT_EQ(version == 2 ? 4u : 0u, field(seen.message->header()->session.sessionId));
    }
}

TEST(MessageBusShimImplCallbacks, BadDeliveriesAreRefusedWithoutReachingTheSubscriber)
{
    int calls = 0;
    MessageBusShim::SubscriberFunction subscriber = [&calls](std::shared_ptr<Message>) -> uint32_t {
        ++calls;
        return 0;
    };
    MessageWireHeader good = RawBusPeer::makeHeader(L"n", L"s", L"p");
    MessageWireHeader oversized = good;
    oversized.totalSize = 1u << 30;
    MessageWireHeader version1TooShort = good; // a version-1 header must say 8 bytes less
    version1TooShort.version = 1;

    struct Case { const char* what; const MessageWireHeader* header; const wchar_t* name; const wchar_t* source;
                  const wchar_t* payload; uint32_t status; };
    const Case cases[] = {
        {"null name", &good, nullptr, L"s", L"p", MODULE_STATUS_INVALID_PARAMETER},
        {"null source", &good, L"n", nullptr, L"p", MODULE_STATUS_INVALID_PARAMETER},
        {"null payload", &good, L"n", L"s", nullptr, MODULE_STATUS_INVALID_PARAMETER},
        {"size the text does not have", &oversized, L"n", L"s", L"p", MODULE_STATUS_DATA_ERROR},
        {"version and size disagree", &version1TooShort, L"n", L"s", L"p", MODULE_STATUS_DATA_ERROR},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.status, MessageBusShimImpl::onSubscriptionMessage(&subscriber, c.header, c.name, c.source, c.payload))
            << c.what;
    EXPECT_EQ(0, calls);

    EXPECT_EQ(0u, MessageBusShimImpl::onSubscriptionMessage(&subscriber, &good, L"n", L"s", L"p"));
    EXPECT_EQ(0u, MessageBusShimImpl::onSubscriptionMessage(&subscriber, nullptr, L"n", L"s", L"p"));
    EXPECT_EQ(2, calls);
}

TEST(MessageBusShimImplCallbacks, AnUnreadableReplyEndsTheRequestAsADataError)
{
    ReplySeen seen;
    MessageBusShim::ReplyFunction function = recordInto(seen);
    MessageWireHeader wrong = RawBusPeer::makeHeader(L"r", L"s", L"p", 1);
    wrong.totalSize = 7;
    EXPECT_EQ(0u, MessageBusShimImpl::onReplyMessage(&function, 8, &wrong, L"r", L"s", L"p", 0));
    EXPECT_EQ(1, seen.calls);
    EXPECT_EQ(MODULE_STATUS_DATA_ERROR, seen.status);
    EXPECT_EQ(nullptr, seen.message);

    EXPECT_EQ(0u, MessageBusShimImpl::onReplyMessage(&function, 9, nullptr, nullptr, nullptr, nullptr,
                                                     MODULE_STATUS_TIMEOUT));
    EXPECT_EQ(MODULE_STATUS_TIMEOUT, seen.status);
    EXPECT_EQ(nullptr, seen.message);
}

TEST(MessageBusShimImplCallbacks, FailuresInsideCallbacksBecomeStatuses)
{
    MessageBusShim::SubscriberFunction throwing = [](std::shared_ptr<Message>) -> uint32_t {
        throw std::runtime_error("subscriber failed");
    };
    MessageBusShim::SubscriberFunction empty;
    const MessageWireHeader header = RawBusPeer::makeHeader(L"n", L"s", L"p");
    EXPECT_EQ(MODULE_STATUS_UNKNOWN_EXCEPTION,
              MessageBusShimImpl::onSubscriptionMessage(&throwing, &header, L"n", L"s", L"p"));
    EXPECT_EQ(MODULE_STATUS_UNKNOWN_EXCEPTION,
              MessageBusShimImpl::onSubscriptionMessage(&empty, &header, L"n", L"s", L"p"));
    EXPECT_EQ(MODULE_STATUS_UNKNOWN_EXCEPTION,
              MessageBusShimImpl::onSubscriptionMessage(nullptr, &header, L"n", L"s", L"p"));
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER,
              MessageBusShimImpl::onReplyMessage(nullptr, 1, &header, L"n", L"s", L"p", 0));
}
