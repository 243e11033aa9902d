// The bus library double on its own, through its table only: the routing
// every SDK and service test relies on, inside one process and through the
// broker alike.
#include "BusBrokerFixture.h"
#include "RawBusPeer.h"

#include "PackedField.h"
#include "WaitUntil.h"
#include "WaitableCounter.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <future>
#include <memory>
#include <thread>
#include <vector>

using BusDouble::RawBusPeer;
using TestSupport::field;
using TestSupport::WaitableCounter;
using namespace std::chrono_literals;

namespace {

class BusDoubleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        RawBusPeer::control().reset();
    }
    const MessageBusFunctions& table = RawBusPeer::table();
};

enum class Route { InProcess, Broker };

// The same routing, with every connection of the test going through a broker.
class BusDoubleRouteTest : public BusDoubleTest, public ::testing::WithParamInterface<Route> {
protected:
    void SetUp() override
    {
        BusDoubleTest::SetUp();
        if (GetParam() == Route::Broker)
            broker = std::make_unique<BusBroker::BusBrokerFixture>();
    }
    void TearDown() override
    {
        if (broker) {
            EXPECT_TRUE(broker->running()) << "the broker ended during the test";
        }
    }
    std::unique_ptr<BusBroker::BusBrokerFixture> broker;
};

INSTANTIATE_TEST_SUITE_P(Routes, BusDoubleRouteTest, ::testing::Values(Route::InProcess, Route::Broker),
                         [](const ::testing::TestParamInfo<Route>& info) {
                             return info.param == Route::Broker ? "Broker" : "InProcess";
                         });

struct Counting {
    WaitableCounter calls;
    std::function<void()> during;
    static MODULE_STATUS callback(void* context, const MessageWireHeader*, const wchar_t*, const wchar_t*,
                                  const wchar_t*)
    {
        auto* self = static_cast<Counting*>(context);
        if (self->during)
            self->during();
        self->calls.increment();
        return 0;
    }
};

} // namespace

TEST_F(BusDoubleTest, TheTableAndTheVersionExports)
{
    HMODULE module = GetModuleHandleW(L"Ondrel.dll");
    ASSERT_NE(nullptr, module);
    using Create = const void* (*)(uint32_t);
    auto create = reinterpret_cast<Create>(reinterpret_cast<void*>(GetProcAddress(module, "CreateObject")));
    ASSERT_NE(nullptr, create);
    EXPECT_EQ(&table, create(MESSAGE_BUS_FUNCTIONS_VERSION));
    EXPECT_EQ(nullptr, create(2000000));
    EXPECT_NE(nullptr, GetProcAddress(module, "ReleaseObject"));
    using Number = uint32_t (*)();
    EXPECT_EQ(2001000u, reinterpret_cast<Number>(reinterpret_cast<void*>(GetProcAddress(module, "GetVersionNum")))());
}

TEST_P(BusDoubleRouteTest, MessagesReachEveryMatchingSubscriptionTheSendersToo)
{
    RawBusPeer sender, receiver;
    sender.subscribe(L"news");
    receiver.subscribe(L"news");
    receiver.subscribeFilter(L"ne.s");
    receiver.subscribeFilter(L"ew");       // matches only part of the name
    receiver.subscribe(L"News");
    ASSERT_EQ(0u, sender.publish(L"news", L"s", L"p"));
    RawBusPeer::Delivery delivery;
    ASSERT_TRUE(sender.waitForDelivery(delivery));
    ASSERT_TRUE(receiver.waitForDelivery(delivery));
    ASSERT_TRUE(receiver.waitForDelivery(delivery));
    EXPECT_FALSE(receiver.waitForDelivery(delivery, 100ms));
    EXPECT_EQ(0u, field(delivery.header.flags));
    EXPECT_NE(0u, field(delivery.header.messageId));
}

TEST_P(BusDoubleRouteTest, RequestsAreMarkedAndAnsweredOnceTheFirstReplyWins)
{
    RawBusPeer requester, answerer;
    answerer.subscribe(L"q");
    answerer.setResponder([](RawBusPeer& self, const RawBusPeer::Delivery& request) {
        self.reply(request, L"first", L"1");
        self.reply(request, L"second", L"2");
    });
    ASSERT_EQ(0u, requester.request(L"q", L"", 600000, 31));
    RawBusPeer::Delivery request;
    ASSERT_TRUE(answerer.waitForDelivery(request));
    EXPECT_EQ(1u << MESSAGE_FLAG_EXPECTS_REPLY, field(request.header.flags));
    EXPECT_NE(0u, field(request.header.messageId));
    const uint8_t zeros[24] = {};
    EXPECT_NE(0, memcmp(zeros, request.header.firstAddress, 24));
    EXPECT_NE(0, memcmp(zeros, request.header.firstTag, 12));

    RawBusPeer::Answer answer;
    ASSERT_TRUE(requester.waitForAnswer(answer));
    EXPECT_EQ(31u, answer.replyIndex);
    EXPECT_EQ(0u, answer.status);
    EXPECT_EQ(L"first", answer.reply.name);
    EXPECT_EQ(field(request.header.messageId), field(answer.reply.header.inReplyTo));
    EXPECT_FALSE(requester.waitForAnswer(answer, 100ms));
    EXPECT_EQ(0u, RawBusPeer::control().pendingRequests());
}

TEST_P(BusDoubleRouteTest, RequestsWithoutSubscribersFailAndUnansweredOnesTimeOutInScaledTime)
{
    RawBusPeer requester, silent;
    EXPECT_EQ(MODULE_STATUS_NO_SUBSCRIBERS, requester.request(L"nobody", L"", 5000, 1));
    silent.subscribeFilter(L".*");
    RawBusPeer::control().setTimeScale(0.01);
    // The longest matching prefix counts; requests no prefix matches take the general scale.
    RawBusPeer::control().setTimeScaleFor(L"Keep.", 1.0);
    RawBusPeer::control().setTimeScaleFor(L"Keep.Short.", 0.01);
    const struct {
        const wchar_t* name;
        bool timesOut;  // within the 0.9 s its 90 s take when scaled
    } cases[] = {
        {L"q", true},
        {L"Keep.q", false},
        {L"Keep.Short.q", true},
        {L"Kee", true},
    };
    const auto started = std::chrono::steady_clock::now();
    uint64_t index = 10;
    size_t expiring = 0;
    for (const auto& c : cases) {
        ASSERT_EQ(0u, requester.request(c.name, L"", 90000, c.timesOut ? ++index : 99)); // 90 s of bus time
        expiring += c.timesOut ? 1 : 0;
    }
    for (size_t i = 0; i < expiring; ++i) {
        RawBusPeer::Answer answer;
        ASSERT_TRUE(requester.waitForAnswer(answer, 60s));
        EXPECT_EQ(MODULE_STATUS_TIMEOUT, answer.status);
        EXPECT_NE(99u, answer.replyIndex) << "a request in real time timed out";
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 60s);
    // The unscaled one is still waiting for its 90 s.
    EXPECT_EQ(1u, RawBusPeer::control().pendingRequests());
}

TEST_P(BusDoubleRouteTest, BadCallsAreRefused)
{
    RawBusPeer peer;
    int notAHandle = 0;
    const MessageWireHeader header = RawBusPeer::makeHeader(L"n", L"s", L"p");
    EXPECT_EQ(MODULE_STATUS_INVALID_HANDLE, table.publish(&notAHandle, &header, L"n", L"s", L"p"));
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, table.publish(peer.handle(), nullptr, L"n", L"s", L"p"));
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, table.publish(peer.handle(), &header, L"n", nullptr, L"p"));
    EXPECT_EQ(0u, peer.subscribeFilter(L"("));
    EXPECT_EQ(MODULE_STATUS_NOT_FOUND, peer.unsubscribe(12345));
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, table.getHandle(nullptr));
    RawBusPeer::control().setGetHandleStatus(MODULE_STATUS_UNSUCCESSFUL);
    void* handle = nullptr;
    EXPECT_EQ(MODULE_STATUS_UNSUCCESSFUL, table.getHandle(&handle));
}

TEST_P(BusDoubleRouteTest, UnsubscribeWaitsForARunningDeliveryAndStopsTheRest)
{
    RawBusPeer sender, owner;
    std::promise<void> release;
    std::shared_future<void> go = release.get_future().share();
    std::atomic<bool> finished{false};
    Counting counting;
    WaitableCounter started;
    counting.during = [&]() {
        started.increment();
        go.wait();
        finished = true;
    };
    const uint32_t id = table.subscribe(owner.handle(), &counting, &Counting::callback, L"slow");
    sender.publish(L"slow", L"s", L"");
    ASSERT_TRUE(started.waitFor(1, TestSupport::kGenerousWait));
    auto removal = std::async(std::launch::async, [&]() { return owner.unsubscribe(id); });
    EXPECT_EQ(std::future_status::timeout, removal.wait_for(100ms)) << "returned while a delivery runs";
    release.set_value();
    ASSERT_EQ(std::future_status::ready, removal.wait_for(TestSupport::kGenerousWait));
    EXPECT_TRUE(finished.load());
    // Once removed, nothing more arrives: a later subscriber sees the next message, this one does not.
    Counting later;
    table.subscribe(owner.handle(), &later, &Counting::callback, L"slow");
    sender.publish(L"slow", L"s", L"");
    ASSERT_TRUE(later.calls.waitFor(1, TestSupport::kGenerousWait));
    EXPECT_EQ(1, counting.calls.value());
}

TEST_P(BusDoubleRouteTest, ASubscriberMayRemoveItselfFromItsOwnDelivery)
{
    RawBusPeer sender, owner;
    Counting counting;
    uint32_t id = 0;
    counting.during = [&]() { EXPECT_EQ(0u, owner.unsubscribe(id)); };
    id = table.subscribe(owner.handle(), &counting, &Counting::callback, L"self");
    sender.publish(L"self", L"s", L"");
    ASSERT_TRUE(counting.calls.waitFor(1, TestSupport::kGenerousWait));
}

TEST_P(BusDoubleRouteTest, ASubscriberWaitingForAReplyBlocksNeitherRepliesNorOtherDeliveries)
{
    RawBusPeer outside, inner, middle;
    inner.subscribe(L"inner");
    inner.setResponder([](RawBusPeer& self, const RawBusPeer::Delivery& request) { self.reply(request, L"r", L"ok"); });
    WaitableCounter answered, other;
    middle.subscribe(L"outer");
    middle.subscribe(L"other");
    middle.setResponder([&](RawBusPeer& self, const RawBusPeer::Delivery& delivery) {
        if (delivery.name == L"other") {
            other.increment();
            return;
        }
        // Waits on a delivery thread of its own connection for a reply to its own request.
        self.request(L"inner", L"", 600000, 5);
        RawBusPeer::Answer answer;
        if (self.waitForAnswer(answer) && answer.status == 0)
            answered.increment();
        EXPECT_TRUE(other.waitFor(1, TestSupport::kGenerousWait)) << "a second delivery waited behind the first";
    });
    outside.publish(L"outer", L"s", L"");
    outside.publish(L"other", L"s", L"");
    EXPECT_TRUE(answered.waitFor(1, TestSupport::kGenerousWait));
    EXPECT_TRUE(other.waitFor(1, TestSupport::kGenerousWait));
}

// Services on the double are measured for the CPU they use while idle
// (bench/alert-road-bench prints that figure): the double's own threads must
// then sleep without waking on a timer. Whether they do is what the double
// counts, not what a busy machine makes of it.
TEST_P(BusDoubleRouteTest, IdleConnectionsWakeNoDeliveryThread)
{
    std::vector<std::unique_ptr<RawBusPeer>> peers;
    for (int i = 0; i < 16; ++i) {
        peers.push_back(std::make_unique<RawBusPeer>());
        peers.back()->subscribe(L"idle.news");
    }
    // Each connection has delivered once, so every delivery thread has run
    // and gone back to sleep.
    ASSERT_EQ(0u, peers.front()->publish(L"idle.news", L"s", L""));
    RawBusPeer::Delivery delivery;
    for (auto& peer : peers)
        ASSERT_TRUE(peer->waitForDelivery(delivery));

    const uint64_t before = RawBusPeer::control().poolWakeups();
    // The span watched: a pool that wakes on a timer (its 15 ms stall
    // period, say) wakes over a thousand times in it across these pools,
    // however loaded the machine. A stray wake is no timer: a wait may
    // return without a notice, and a loaded machine can still be carrying
    // a message of the connections' start.
    std::this_thread::sleep_for(2s);
    const uint64_t woken = RawBusPeer::control().poolWakeups() - before;
    EXPECT_LE(woken, 2u) << "idle delivery threads woke " << woken << " times";

    // And the count does move when there is something to deliver, so the
    // silence above is the pools sleeping, not the count standing still.
    ASSERT_EQ(0u, peers.front()->publish(L"idle.news", L"s", L""));
    for (auto& peer : peers)
        ASSERT_TRUE(peer->waitForDelivery(delivery));
    EXPECT_LT(before, RawBusPeer::control().poolWakeups());
}

TEST_F(BusDoubleTest, DetachedReplyCallbacksAreNeverCalledAgain)
{
    RawBusPeer requester, answerer;
    answerer.subscribe(L"q");
    ASSERT_EQ(0u, requester.request(L"q", L"", 600000, 1));
    RawBusPeer::Delivery request;
    ASSERT_TRUE(answerer.waitForDelivery(request));
    // The raw peer's destructor detaches; do it early here by hand.
    struct Probe {
        static MODULE_STATUS reply(void*, uint64_t, const MessageWireHeader*, const wchar_t*, const wchar_t*,
                                   const wchar_t*, uint32_t) { return 0; }
    };
    EXPECT_EQ(0u, table.detachReplyCallback(requester.handle(), &Probe::reply)) << "another callback: no effect";
    EXPECT_EQ(1u, RawBusPeer::control().pendingRequests());
    ASSERT_EQ(0u, answerer.reply(request, L"r", L""));
    RawBusPeer::Answer answer;
    ASSERT_TRUE(requester.waitForAnswer(answer));
    EXPECT_EQ(0u, answer.status);
}
