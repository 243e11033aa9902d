#include "BusTestSupport.h"

#include "HugeTimeouts.h"
#include "PackedField.h"
#include "WaitableCounter.h"
#include "dll/MessageBusLib.h"
#include "dll/ModuleException.h"
#include "message/MessageBusClient.h"
#include "wrappers/ProcessAPI.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <set>
#include <thread>

using BusDouble::Call;
using BusDouble::RawBusPeer;
using BusTest::RecordingShim;
using Ostrand::Message;
using Ostrand::MessageBusClient;
using Ostrand::Reply;
using TestSupport::field;
using TestSupport::WaitableCounter;
using namespace std::chrono_literals;

namespace {

class SessionProcess : public Ostrand::ProcessAPI {
public:
    explicit SessionProcess(DWORD session, bool works = true) : m_session(session), m_works(works) {}
    BOOL processIdToSessionId(DWORD, DWORD* session) override
    {
        *session = m_session;
        return m_works;
    }

private:
    DWORD m_session;
    bool m_works;
};

class ClientTest : public BusTest::BusFixture {
protected:
    std::shared_ptr<MessageBusClient> client = std::make_shared<MessageBusClient>();
    RawBusPeer peer;
};

MessageBusClient::Callback countInto(WaitableCounter& counter)
{
    return [&counter](std::shared_ptr<Message>) -> uint32_t {
        counter.increment();
        return 0;
    };
}

std::shared_ptr<Message> withSession(const std::wstring& name, uint32_t session, uint16_t version = 2)
{
    auto message = Message::create(name, L"s", L"");
    message->header()->session.sessionId = session;
    message->header()->version = version;
    return message;
}

} // namespace

// ---- over the bus library double ---------------------------------------

TEST_F(ClientTest, PublishedMessagesReachOtherConnectionsAndTheSender)
{
    WaitableCounter own;
    ASSERT_EQ(0u, client->subscribe(L"topic", countInto(own)));
    peer.subscribe(L"topic");
    ASSERT_EQ(0u, client->publish(Message::create(L"topic", L"me", L"{\"a\":1}")));
    RawBusPeer::Delivery delivery;
    ASSERT_TRUE(peer.waitForDelivery(delivery));
    EXPECT_EQ(L"me", delivery.source);
    EXPECT_EQ(L"{\"a\":1}", delivery.payload);
    EXPECT_TRUE(own.waitFor(1, 10s));
}

TEST_F(ClientTest, ExactAndPatternSubscriptionsMatchWholeNamesOnly)
{
    WaitableCounter exact, pattern;
    ASSERT_EQ(0u, client->subscribe(L"Sentrel.Alert.GetId", countInto(exact)));
    ASSERT_EQ(0u, client->subscribeFilter(L"Sentrel.Alert.Show..+", countInto(pattern)));
    struct Case { const wchar_t* name; int exact; int pattern; };
    const Case cases[] = {
        {L"Sentrel.Alert.GetId", 1, 0},
        {L"Sentrel.Alert.GetIdX", 0, 0},
        {L"sentrel.alert.getid", 0, 0},
        {L"Sentrel.Alert.Show.12", 0, 1},
        {L"Sentrel.Alert.Show.", 0, 0},
        {L"x.Sentrel.Alert.Show.12", 0, 0},
    };
    int exactTotal = 0, patternTotal = 0;
    for (const Case& c : cases) {
        ASSERT_EQ(0u, peer.publish(c.name, L"peer", L""));
        exactTotal += c.exact;
        patternTotal += c.pattern;
    }
    // A marker published last on the same path: once it arrives, every earlier one has been decided.
    WaitableCounter marker;
    ASSERT_EQ(0u, client->subscribe(L"marker", countInto(marker)));
    ASSERT_EQ(0u, peer.publish(L"marker", L"peer", L""));
    ASSERT_TRUE(marker.waitFor(1, 10s));
    EXPECT_TRUE(exact.waitFor(exactTotal, 10s));
    EXPECT_TRUE(pattern.waitFor(patternTotal, 10s));
    EXPECT_EQ(exactTotal, exact.value());
    EXPECT_EQ(patternTotal, pattern.value());
}

TEST_F(ClientTest, UnsubscribeRemovesEveryCallbackOfTheAlias)
{
    WaitableCounter counter, other;
    ASSERT_EQ(0u, client->subscribe(L"one", L"alias", countInto(counter)));
    ASSERT_EQ(0u, client->subscribeFilter(L"tw.", L"alias", countInto(counter)));
    ASSERT_EQ(0u, client->subscribe(L"one", L"other", countInto(other)));
    ASSERT_EQ(0u, client->unsubscribe(L"alias"));
    EXPECT_EQ(0u, client->unsubscribe(L"alias")) << "an unknown alias is only a warning";
    peer.publish(L"one", L"p", L"");
    peer.publish(L"two", L"p", L"");
    ASSERT_TRUE(other.waitFor(1, 10s));
    EXPECT_EQ(0, counter.value());
    EXPECT_EQ(2u, journal(Call::Unsubscribe).size());
}

TEST_F(ClientTest, RequestWithAReplyObjectGetsTheAnswer)
{
    peer.subscribe(L"question");
    peer.setResponder([](RawBusPeer& self, const RawBusPeer::Delivery& request) {
        EXPECT_NE(0u, request.header.flags & (1u << MESSAGE_FLAG_EXPECTS_REPLY));
        EXPECT_NE(0u, field(request.header.messageId));
        self.reply(request, L"answer", L"42");
    });
    std::shared_ptr<Reply> reply;
    ASSERT_EQ(0u, client->request(Message::create(L"question", L"me", L""), reply, BusTest::kAnswered));
    ASSERT_TRUE(reply);
    EXPECT_EQ(Reply::Received, reply->getStatus());
    ASSERT_TRUE(reply->getMessage());
    EXPECT_EQ(L"42", reply->getMessage()->payload());
}

TEST_F(ClientTest, RequestWithACallbackGetsAnEvaluatedReply)
{
    peer.subscribe(L"question");
    peer.setResponder([](RawBusPeer& self, const RawBusPeer::Delivery& request) { self.reply(request, L"a", L"7"); });
    std::promise<std::pair<int32_t, std::wstring>> seen;
    ASSERT_EQ(0u, client->requestEx(Message::create(L"question", L"me", L""),
                                    [&seen](std::shared_ptr<Reply> reply) {
                                        auto message = reply->getMessage();
                                        seen.set_value({reply->peekStatus(), message ? message->payload() : L""});
                                    },
                                    BusTest::kAnswered));
    auto future = seen.get_future();
    ASSERT_EQ(std::future_status::ready, future.wait_for(10s));
    EXPECT_EQ(Reply::Received, future.get().first);
    EXPECT_EQ(1u, journal(Call::RequestEx).size());
}

TEST_F(ClientTest, UnansweredAndLateRequestsTimeOut)
{
    peer.subscribe(L"question");
    // Answered, but only after the bus has given up on the request.
    control().setReplyMode(BusDouble::ReplyMode::Delay, 90000);
    peer.setResponder([](RawBusPeer& self, const RawBusPeer::Delivery& request) { self.reply(request, L"a", L"late"); });
    std::shared_ptr<Reply> late;
    ASSERT_EQ(0u, client->requestEx(Message::create(L"question", L"me", L""), late, 30000ms));
    EXPECT_EQ(Reply::TimedOut, late->getStatus());

    control().setReplyMode(BusDouble::ReplyMode::Drop, 0);
    std::shared_ptr<Reply> dropped;
    ASSERT_EQ(0u, client->request(Message::create(L"question", L"me", L""), dropped, 90000ms));
    EXPECT_EQ(Reply::TimedOut, dropped->getStatus());
}

// A caller that will wait for ever gets its answer like any other, and the
// bus is handed the time-out as it stands.
class HugeTimeoutRequest : public ClientTest, public ::testing::WithParamInterface<TestSupport::HugeTimeout> {};

TEST_P(HugeTimeoutRequest, GetsItsReplyAndReturns)
{
    peer.subscribe(L"question");
    // A fifth of a real second: the reply is waiting when the answer comes.
    control().setReplyMode(BusDouble::ReplyMode::Delay, 20000);
    peer.setResponder([](RawBusPeer& self, const RawBusPeer::Delivery& request) { self.reply(request, L"a", L"late"); });
    for (const bool ex : {false, true}) {
        std::shared_ptr<Reply> reply;
        const auto question = Message::create(L"question", L"me", L"");
        ASSERT_EQ(0u, ex ? client->requestEx(question, reply, GetParam().value)
                         : client->request(question, reply, GetParam().value));
        ASSERT_TRUE(reply);
        EXPECT_EQ(Reply::Received, reply->getStatus()) << (ex ? "requestEx" : "request");
        ASSERT_TRUE(reply->getMessage());
        EXPECT_EQ(L"late", reply->getMessage()->payload());
        const auto sent = journal(ex ? Call::RequestEx : Call::Request);
        ASSERT_EQ(1u, sent.size());
        EXPECT_EQ(static_cast<uint64_t>(GetParam().value.count()), sent[0].timeoutMs);
    }
}

INSTANTIATE_TEST_SUITE_P(Ends, HugeTimeoutRequest, ::testing::ValuesIn(TestSupport::hugeTimeouts()),
                         [](const ::testing::TestParamInfo<TestSupport::HugeTimeout>& info) {
                             return std::string(info.param.label);
                         });

// A text the wire would cut at its inner NUL never leaves: the caller is told,
// instead of a status 0 for a message every receiver drops.
TEST_F(ClientTest, AMessageWithAnInnerNulIsRefusedAndNeverSent)
{
    peer.subscribe(L"n");
    const std::wstring withNul(L"a\0b", 3);
    const std::pair<const char*, std::shared_ptr<Message>> cases[] = {
        {"name", Message::create(std::wstring(L"n\0x", 3), L"s", L"{}")},
        {"source", Message::create(L"n", withNul, L"{}")},
        {"payload", Message::create(L"n", L"s", withNul)},
    };
    for (const auto& c : cases) {
        std::shared_ptr<Reply> reply;
        EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, client->publish(c.second)) << c.first;
        EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, client->publishEx(c.second)) << c.first;
        EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, client->request(c.second, reply, BusTest::kAnswered)) << c.first;
        EXPECT_FALSE(reply) << c.first;
    }
    for (const Call call : {Call::Publish, Call::PublishEx, Call::Request, Call::DeliverMessage})
        EXPECT_EQ(0u, journal(call).size());
}

TEST_F(ClientTest, ARequestNobodyListensToFails)
{
    std::shared_ptr<Reply> reply;
    EXPECT_EQ(MODULE_STATUS_NO_SUBSCRIBERS, client->request(Message::create(L"nobody", L"me", L""), reply, 5000ms));
    EXPECT_FALSE(reply);
}

TEST_F(ClientTest, ASecondReplyToOneRequestIsRefused)
{
    control().setReplyMode(BusDouble::ReplyMode::Double, 0);
    peer.subscribe(L"question");
    peer.setResponder([](RawBusPeer& self, const RawBusPeer::Delivery& request) { self.reply(request, L"a", L"once"); });
    std::shared_ptr<Reply> reply;
    ASSERT_EQ(0u, client->request(Message::create(L"question", L"me", L""), reply, BusTest::kAnswered));
    EXPECT_EQ(Reply::Received, reply->getStatus());
    for (int i = 0; i < 2000 && journal(Call::DeliverReply).size() < 2; ++i)
        std::this_thread::sleep_for(5ms);
    const auto deliveries = journal(Call::DeliverReply);
    ASSERT_EQ(2u, deliveries.size());
    std::multiset<uint32_t> statuses{deliveries[0].status, deliveries[1].status};
    EXPECT_EQ((std::multiset<uint32_t>{0u, MODULE_STATUS_NOT_FOUND}), statuses);
}

TEST_F(ClientTest, AReplyReachesTheRequesterThenEverySubscriberAsAPlainMessage)
{
    // The client answers a request of the peer; a second peer listens to the answer's name.
    RawBusPeer listener;
    listener.subscribe(L"answer");
    ASSERT_EQ(0u, client->subscribe(L"question", [this](std::shared_ptr<Message> request) -> uint32_t {
        return client->publish(request->createReply(L"answer", L"", L"done"));
    }));
    ASSERT_EQ(0u, peer.request(L"question", L"", 100000, 77));
    RawBusPeer::Answer answer;
    ASSERT_TRUE(peer.waitForAnswer(answer));
    EXPECT_EQ(77u, answer.replyIndex);
    EXPECT_EQ(0u, answer.status);
    EXPECT_EQ(L"done", answer.reply.payload);
    EXPECT_EQ((1u << MESSAGE_FLAG_REPLY) | (1u << MESSAGE_FLAG_REPLY_COPIED), field(answer.reply.header.flags));

    RawBusPeer::Delivery copy;
    ASSERT_TRUE(listener.waitForDelivery(copy));
    EXPECT_EQ(1u << MESSAGE_FLAG_REPLY_COPIED, field(copy.header.flags));
    EXPECT_EQ(0u, field(copy.header.inReplyTo));
    // The double journals a publication after it handed it on, so the copy can arrive first.
    for (int i = 0; i < 2000 && journal(Call::Publish).size() < 2; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(2u, journal(Call::Publish).size());
}

TEST_F(ClientTest, SessionSubscriptionsOverTheBusDropOtherSessions)
{
    auto scoped = std::make_shared<MessageBusClient>(std::make_shared<Ostrand::MessageBusLib>(),
                                                     std::make_shared<SessionProcess>(5));
    WaitableCounter counter;
    ASSERT_EQ(0u, scoped->subscribeSession(L"s", countInto(counter)));
    for (uint32_t session : {7u, 5u, 0u})
        scoped->publish(withSession(L"s", session));
    ASSERT_TRUE(counter.waitFor(2, 10s));
    WaitableCounter marker;
    scoped->subscribe(L"marker", countInto(marker));
    scoped->publish(Message::create(L"marker", L"s", L""));
    ASSERT_TRUE(marker.waitFor(1, 10s));
    EXPECT_EQ(2, counter.value());
}

TEST_F(ClientTest, DeliveriesOfVersion1HeadersArriveUpgraded)
{
    control().setDeliverVersion1(true);
    std::promise<std::shared_ptr<Message>> seen;
    ASSERT_EQ(0u, client->subscribe(L"old", [&seen](std::shared_ptr<Message> message) -> uint32_t {
        seen.set_value(message);
        return 0;
    }));
    peer.publish(L"old", L"p", L"x");
    auto future = seen.get_future();
    ASSERT_EQ(std::future_status::ready, future.wait_for(10s));
    const auto message = future.get();
    EXPECT_EQ(2, field(message->header()->version));
    EXPECT_EQ(message->expectedSize(), field(message->header()->totalSize));
}

// ---- concurrency ------------------------------------------------------------

TEST_F(ClientTest, ManyThreadsPublishingAndSubscribingLoseAndDoubleNothing)
{
    const int threads = 6, perThread = 100;
    std::mutex lock;
    std::multiset<std::wstring> received;
    WaitableCounter counter;
    auto receiver = std::make_shared<MessageBusClient>();
    ASSERT_EQ(0u, receiver->subscribeFilter(L"load\\..*", [&](std::shared_ptr<Message> message) -> uint32_t {
        {
            std::lock_guard<std::mutex> guard(lock);
            received.insert(message->payload());
        }
        counter.increment();
        return 0;
    }));
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t]() {
            for (int i = 0; i < perThread; ++i) {
                const std::wstring alias = L"churn" + std::to_wstring(t);
                client->subscribe(L"churn", alias, [](std::shared_ptr<Message>) -> uint32_t { return 0; });
                client->publish(Message::create(L"load." + std::to_wstring(t), L"s",
                                                std::to_wstring(t) + L"/" + std::to_wstring(i)));
                client->unsubscribe(alias);
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    ASSERT_TRUE(counter.waitFor(threads * perThread, 30s));
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(size_t(threads * perThread), received.size());
    EXPECT_EQ(received.size(), std::set<std::wstring>(received.begin(), received.end()).size());
}

TEST_F(ClientTest, ACallbackMayUnsubscribeItsOwnAlias)
{
    WaitableCounter counter;
    std::atomic<uint32_t> status{99};
    ASSERT_EQ(0u, client->subscribe(L"once", L"self", [&](std::shared_ptr<Message>) -> uint32_t {
        status = client->unsubscribe(L"self");
        counter.increment(); // runs after its own subscription entry is gone
        return 0;
    }));
    peer.publish(L"once", L"p", L"");
    ASSERT_TRUE(counter.waitFor(1, 10s));
    EXPECT_EQ(0u, status.load());
    peer.publish(L"once", L"p", L"");
    WaitableCounter marker;
    client->subscribe(L"marker", countInto(marker));
    peer.publish(L"marker", L"p", L"");
    ASSERT_TRUE(marker.waitFor(1, 10s));
    EXPECT_EQ(1, counter.value());
}

TEST_F(ClientTest, UnsubscribeDoesNotHoldTheLockWhileTheBusWaitsForACallback)
{
    WaitableCounter started;
    std::promise<void> proceed;
    std::shared_future<void> go = proceed.get_future().share();
    std::atomic<uint32_t> nested{99};
    ASSERT_EQ(0u, client->subscribe(L"slow", L"slow", [&](std::shared_ptr<Message>) -> uint32_t {
        started.increment();
        go.wait();
        // The alias is being removed on another thread, which waits for this callback.
        nested = client->subscribe(L"other", [](std::shared_ptr<Message>) -> uint32_t { return 0; });
        return 0;
    }));
    peer.publish(L"slow", L"p", L"");
    ASSERT_TRUE(started.waitFor(1, 10s));
    auto removal = std::async(std::launch::async, [&]() { return client->unsubscribe(L"slow"); });
    // Let the removal reach the bus's wait before the callback goes on.
    std::this_thread::sleep_for(100ms);
    proceed.set_value();
    ASSERT_EQ(std::future_status::ready, removal.wait_for(10s)) << "unsubscribe and the callback deadlocked";
    EXPECT_EQ(0u, removal.get());
    EXPECT_EQ(0u, nested.load());
}

TEST_F(ClientTest, DestroyingAClientWaitsForItsRunningCallbacks)
{
    WaitableCounter started;
    std::promise<void> proceed;
    std::shared_future<void> go = proceed.get_future().share();
    std::atomic<bool> finished{false};
    ASSERT_EQ(0u, client->subscribe(L"busy", [&](std::shared_ptr<Message>) -> uint32_t {
        started.increment();
        go.wait();
        std::this_thread::sleep_for(20ms);
        finished = true;
        return 0;
    }));
    peer.publish(L"busy", L"p", L"");
    ASSERT_TRUE(started.waitFor(1, 10s));
    auto destruction = std::async(std::launch::async, [&]() { client.reset(); });
    std::this_thread::sleep_for(50ms);
    proceed.set_value();
    ASSERT_EQ(std::future_status::ready, destruction.wait_for(10s));
    EXPECT_TRUE(finished.load());
    peer.publish(L"busy", L"p", L"");
    EXPECT_EQ(1, started.value());
    EXPECT_EQ(1u, control().openConnections()) << "only the peer's connection is left";
}

TEST_F(ClientTest, APendingReplyOutlivesItsClientAsFailed)
{
    peer.subscribe(L"question"); // never answers
    std::shared_ptr<Reply> reply;
    ASSERT_EQ(0u, client->request(Message::create(L"question", L"me", L""), reply, 90000ms));
    client.reset();
    EXPECT_EQ(Reply::Failed, reply->getStatus());
}

// ---- direct messages ----------------------------------------------------------

TEST_F(ClientTest, DirectMessagesReachLocalSubscribersOnTheCallingThreadOnly)
{
    peer.subscribe(L"Sentrel.Alert.Show.1");
    std::set<std::wstring> called;
    const auto caller = std::this_thread::get_id();
    auto note = [&](const wchar_t* which) {
        return [&called, caller, which](std::shared_ptr<Message>) -> uint32_t {
            EXPECT_EQ(caller, std::this_thread::get_id());
            called.insert(which);
            return 0;
        };
    };
    client->subscribe(L"Sentrel.Alert.Show.1", L"a", note(L"exact"));
    client->subscribeFilter(L"Sentrel.Alert.Show..+", L"b", note(L"pattern"));
    client->subscribeFilter(L"Show", L"c", note(L"partial"));
    client->subscribe(L"sentrel.alert.show.1", L"d", note(L"case"));
    EXPECT_EQ(0u, client->dispatchDirectMessage(Message::create(L"Sentrel.Alert.Show.1", L"host", L"")));
    EXPECT_EQ((std::set<std::wstring>{L"exact", L"pattern"}), called);
    EXPECT_TRUE(journal(Call::Publish).empty());
    EXPECT_EQ(0u, peer.deliveryCount());
}

// ---- the client's own bookkeeping, over a recording shim ---------------------

class ClientOverShim : public ::testing::Test {
protected:
    std::shared_ptr<RecordingShim> shim = std::make_shared<RecordingShim>();
    std::shared_ptr<MessageBusClient> client =
        std::make_shared<MessageBusClient>(shim, std::make_shared<SessionProcess>(0));
};

TEST_F(ClientOverShim, RepliesArePublishedTwiceUnlessMarked)
{
    struct Case { uint32_t flags; size_t publishes; };
    const Case cases[] = {
        {1u << MESSAGE_FLAG_REPLY, 2},
        {(1u << MESSAGE_FLAG_REPLY) | (1u << MESSAGE_FLAG_REPLY_ONLY), 1},
        {(1u << MESSAGE_FLAG_REPLY) | (1u << MESSAGE_FLAG_REPLY_COPIED), 1},
        {0, 1},
    };
    for (const Case& c : cases) {
        auto local = std::make_shared<RecordingShim>();
        MessageBusClient one(local, std::make_shared<SessionProcess>(0));
        auto message = Message::create(L"r", L"s", L"");
        message->header()->flags = c.flags;
        message->header()->inReplyTo = 9;
        EXPECT_EQ(0u, one.publish(message));
        std::vector<RecordingShim::Call> publishes;
        for (const auto& call : local->calls())
            if (call.what == L"publish")
                publishes.push_back(call);
        ASSERT_EQ(c.publishes, publishes.size()) << c.flags;
        if (c.publishes == 2) {
            EXPECT_EQ((1u << MESSAGE_FLAG_REPLY) | (1u << MESSAGE_FLAG_REPLY_COPIED), publishes[0].flags);
            EXPECT_EQ(9u, publishes[0].inReplyTo);
            EXPECT_EQ(1u << MESSAGE_FLAG_REPLY_COPIED, publishes[1].flags);
            EXPECT_EQ(0u, publishes[1].inReplyTo);
        }
    }
}

TEST_F(ClientOverShim, PublishFailuresAndTheCopysFailure)
{
    shim->publishStatuses = {MODULE_STATUS_NO_SUBSCRIBERS};
    EXPECT_EQ(MODULE_STATUS_NO_SUBSCRIBERS, client->publish(Message::create(L"n", L"s", L"")));
    auto reply = Message::create(L"r", L"s", L"");
    reply->header()->setFlag(MESSAGE_FLAG_REPLY);
    shim->publishStatuses = {0, MODULE_STATUS_UNSUCCESSFUL};
    EXPECT_EQ(0u, client->publish(reply)) << "a failed plain copy is only a warning";
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, client->publish(nullptr));
}

TEST_F(ClientOverShim, ReplyIndicesCountEveryRequestEvenFailedOnes)
{
    std::shared_ptr<Reply> reply;
    EXPECT_EQ(0u, client->request(Message::create(L"q", L"s", L""), reply, 10ms));
    shim->requestStatus = MODULE_STATUS_NO_SUBSCRIBERS;
    std::shared_ptr<Reply> untouched;
    EXPECT_EQ(MODULE_STATUS_NO_SUBSCRIBERS, client->request(Message::create(L"q", L"s", L""), untouched, 10ms));
    EXPECT_FALSE(untouched);
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, client->requestEx(nullptr, untouched, 10ms));
    shim->requestStatus = 0;
    EXPECT_EQ(0u, client->requestEx(Message::create(L"q", L"s", L""), reply, 10ms));
    std::vector<uint64_t> indices;
    for (const auto& call : shim->calls())
        if (call.what.rfind(L"request", 0) == 0)
            indices.push_back(call.replyIndex);
    EXPECT_EQ((std::vector<uint64_t>{0, 1, 2, 3}), indices);
    // The failed requests left nothing behind: an answer for them is unknown.
    ASSERT_TRUE(shim->replyFunction);
    EXPECT_EQ(MODULE_STATUS_NOT_FOUND, (*shim->replyFunction)(1, nullptr, 0));
    EXPECT_EQ(MODULE_STATUS_NOT_FOUND, (*shim->replyFunction)(2, nullptr, 0));
}

TEST_F(ClientOverShim, TheLibrarysReplyStatusDecidesTheReply)
{
    struct Case { uint32_t status; bool withMessage; int32_t reply; };
    const Case cases[] = {
        {0, true, Reply::Received},
        {0, false, Reply::Failed},
        {MODULE_STATUS_TIMEOUT, false, Reply::TimedOut},
        {MODULE_STATUS_DATA_ERROR, false, Reply::Failed},
    };
    for (const Case& c : cases) {
        std::shared_ptr<Reply> reply;
        ASSERT_EQ(0u, client->request(Message::create(L"q", L"s", L""), reply, 10ms));
        const uint64_t index = shim->calls().back().replyIndex;
        EXPECT_EQ(0u, (*shim->replyFunction)(index, c.withMessage ? Message::create(L"a", L"s", L"") : nullptr, c.status));
        EXPECT_EQ(c.reply, reply->getStatus()) << c.status;
        EXPECT_EQ(MODULE_STATUS_NOT_FOUND, (*shim->replyFunction)(index, nullptr, 0)) << "answered already";
    }
}

TEST_F(ClientOverShim, ACallbackRequestRefusedByTheBusNeverCallsBack)
{
    shim->requestStatus = MODULE_STATUS_NO_SUBSCRIBERS;
    bool called = false;
    EXPECT_EQ(MODULE_STATUS_NO_SUBSCRIBERS,
              client->request(Message::create(L"q", L"s", L""), [&called](std::shared_ptr<Reply>) { called = true; }, 10ms));
    EXPECT_EQ(MODULE_STATUS_NOT_FOUND, (*shim->replyFunction)(0, nullptr, 0));
    EXPECT_FALSE(called);
}

TEST_F(ClientOverShim, SubscriptionBookkeeping)
{
    auto none = [](std::shared_ptr<Message>) -> uint32_t { return 0; };
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, client->subscribeFilter(L"(", L"bad", none));
    EXPECT_TRUE(shim->calls().empty()) << "a bad pattern never reaches the bus";

    ASSERT_EQ(0u, client->subscribeFilter(L"p.*", L"mixed", none));
    ASSERT_EQ(0u, client->subscribe(L"name", L"mixed", none));
    const uint32_t patternId = shim->calls()[0].id;
    const uint32_t nameId = shim->calls()[1].id;
    ASSERT_EQ(0u, client->unsubscribe(L"mixed"));
    const auto calls = shim->calls();
    ASSERT_EQ(4u, calls.size());
    EXPECT_EQ(L"unsubscribe", calls[2].what);
    EXPECT_EQ(nameId, calls[2].id) << "names first, then patterns";
    EXPECT_EQ(patternId, calls[3].id);

    shim->refuseSubscriptions = true;
    EXPECT_EQ(MODULE_STATUS_UNSUCCESSFUL, client->subscribe(L"n", L"refused", none));
    EXPECT_EQ(MODULE_STATUS_UNSUCCESSFUL, client->subscribeFilter(L"n", L"refused", none));
    shim->refuseSubscriptions = false;
    EXPECT_EQ(0u, client->unsubscribe(L"refused"));
    EXPECT_EQ(L"subscribeFilter n", shim->calls().back().what) << "nothing left to remove from the bus";
}

TEST_F(ClientOverShim, DestructionRemovesEverythingThenDetaches)
{
    auto none = [](std::shared_ptr<Message>) -> uint32_t { return 0; };
    client->subscribe(L"a", none);
    client->subscribeFilter(L"b", none);
    client.reset();
    const auto calls = shim->calls();
    ASSERT_EQ(5u, calls.size());
    EXPECT_EQ(L"unsubscribe", calls[2].what);
    EXPECT_EQ(L"unsubscribe", calls[3].what);
    EXPECT_EQ(L"detachReplyCallback", calls[4].what);
}

TEST(ClientSession, SessionFormsFilterByTheHeadersSession)
{
    struct Case { uint32_t ownSession; bool lookupWorks; std::shared_ptr<Message> message; bool delivered; };
    const Case cases[] = {
        {5, true, withSession(L"n", 7), false},
        {5, true, withSession(L"n", 5), true},
        {5, true, withSession(L"n", 0), true},
        {5, true, withSession(L"n", 7, 1), true},
        {0, true, withSession(L"n", 7), true},
        {5, false, withSession(L"n", 7), true},
    };
    for (const Case& c : cases) {
        MessageBusClient client(std::make_shared<RecordingShim>(),
                                std::make_shared<SessionProcess>(c.ownSession, c.lookupWorks));
        int exact = 0, pattern = 0;
        client.subscribeSession(L"n", [&exact](std::shared_ptr<Message>) -> uint32_t { return ++exact, 0; });
        client.subscribeFilterSession(L"n", [&pattern](std::shared_ptr<Message>) -> uint32_t { return ++pattern, 0; });
        client.dispatchDirectMessage(c.message);
        EXPECT_EQ(c.delivered ? 1 : 0, exact) << c.ownSession;
        EXPECT_EQ(c.delivered ? 1 : 0, pattern) << c.ownSession;
    }
}

// ---- the connection a default client opens -------------------------------------

TEST_F(ClientTest, ARefusedHandleThrowsAndLeavesNothingOpen)
{
    const uint32_t before = control().openConnections();
    control().setGetHandleStatus(MODULE_STATUS_UNSUCCESSFUL);
    try {
        MessageBusClient refused;
        FAIL() << "a client without a handle";
    } catch (const Ostrand::ModuleException& error) {
        EXPECT_STREQ("Failed to get message bus handle", error.what());
    }
    EXPECT_EQ(before, control().openConnections());
}

TEST_F(ClientTest, EachDefaultClientOpensAndReleasesItsOwnConnection)
{
    const uint32_t before = control().openConnections();
    {
        MessageBusClient second;
        EXPECT_EQ(before + 1, control().openConnections());
    }
    EXPECT_EQ(before, control().openConnections());
    const auto detaches = journal(Call::DetachReplyCallback);
    const auto releases = journal(Call::Release);
    ASSERT_FALSE(detaches.empty());
    ASSERT_EQ(1u, releases.size());
    EXPECT_EQ(releases[0].connection, detaches.back().connection);
}

TEST_F(ClientOverShim, AVeryLongDirectNameIsNotMatchedAgainstPatterns)
{
    int exact = 0, pattern = 0;
    const std::wstring name(20000, L'a');
    client->subscribe(name, [&exact](std::shared_ptr<Message>) -> uint32_t { return ++exact, 0; });
    client->subscribeFilter(L"a+", [&pattern](std::shared_ptr<Message>) -> uint32_t { return ++pattern, 0; });
    std::thread worker([&]() { client->dispatchDirectMessage(Message::create(name, L"s", L"")); });
    worker.join();
    EXPECT_EQ(1, exact);
    EXPECT_EQ(0, pattern);
}
