#include "message/ReplyImpl.h"

#include "HugeTimeouts.h"

#include <gtest/gtest.h>

#include <atomic>
#include <system_error>
#include <thread>

using Ostrand::Message;
using Ostrand::Reply;
using Ostrand::ReplyClock;
using Ostrand::ReplyImpl;
using namespace std::chrono_literals;

namespace {

// A clock that stands still unless the test moves it, or that moves by a
// step at every reading.
class FakeClock : public ReplyClock {
public:
    int64_t nowMs() const override { return now.fetch_add(step); }
    mutable std::atomic<int64_t> now{1000000};
    int64_t step = 0;
};

struct Pending {
    std::promise<std::shared_ptr<Message>> promise;
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<Reply> reply;

    explicit Pending(std::chrono::milliseconds timeout = 5000ms)
    {
        reply = ReplyImpl::create(promise.get_future(), timeout, clock);
    }
};

} // namespace

TEST(ReplyImpl, AnswerArrivingWithinTheExtraSecondIsTaken)
{
    Pending pending;
    EXPECT_EQ(Reply::Pending, pending.reply->peekStatus());
    pending.promise.set_value(Message::create(L"answer", L"s", L""));
    EXPECT_EQ(nullptr, pending.reply->getMessage()) << "nothing before the first evaluation";
    pending.clock->now += 5500;
    EXPECT_EQ(Reply::Received, pending.reply->getStatus());
    ASSERT_TRUE(pending.reply->getMessage());
    EXPECT_EQ(L"answer", pending.reply->getMessage()->name());
}

TEST(ReplyImpl, NoAnswerPastTheDeadlineTimesOutOnceAndForAll)
{
    Pending pending;
    pending.clock->now += 6001;
    EXPECT_EQ(Reply::TimedOut, pending.reply->getStatus());
    pending.promise.set_value(Message::create(L"late", L"s", L""));
    EXPECT_EQ(Reply::TimedOut, pending.reply->getStatus());
    EXPECT_EQ(nullptr, pending.reply->getMessage());
}

TEST(ReplyImpl, ARemainingTimeOfZeroEndsInsteadOfSpinning)
{
    Pending pending;
    pending.clock->now += 6000; // exactly at the deadline, and the clock never moves again
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(Reply::TimedOut, pending.reply->getStatus());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
}

TEST(ReplyImpl, WaitsForAnAnswerThatComesWhileItWaits)
{
    Pending pending;
    pending.clock->step = 0;
    std::thread answer([&]() {
        std::this_thread::sleep_for(20ms);
        pending.promise.set_value(Message::create(L"answer", L"s", L""));
    });
    EXPECT_EQ(Reply::Received, pending.reply->getStatus());
    answer.join();
}

TEST(ReplyImpl, HowTheClientsMarksEndTheReply)
{
    struct Case {
        const char* what;
        std::function<void(std::promise<std::shared_ptr<Message>>&)> complete;
        int32_t status;
    };
    const Case cases[] = {
        {"a time-out reported by the bus",
         [](auto& p) {
             p.set_exception(std::make_exception_ptr(std::system_error(std::make_error_code(std::errc::operation_canceled))));
         },
         Reply::TimedOut},
        {"another failure",
         [](auto& p) {
             p.set_exception(std::make_exception_ptr(std::system_error(std::make_error_code(std::errc::no_message_available))));
         },
         Reply::Failed},
        {"an answer without a message", [](auto& p) { p.set_value(nullptr); }, Reply::Failed},
        {"a client that went away", [](auto& p) { std::promise<std::shared_ptr<Message>> gone = std::move(p); },
         Reply::Failed},
    };
    for (const Case& c : cases) {
        Pending pending;
        c.complete(pending.promise);
        EXPECT_EQ(c.status, pending.reply->getStatus()) << c.what;
        EXPECT_EQ(nullptr, pending.reply->getMessage()) << c.what;
    }
}

TEST(ReplyImpl, WaitForReturnsPendingWhenTheAnswerIsLate)
{
    Pending pending;
    EXPECT_EQ(Reply::Pending, pending.reply->waitFor(10ms));
    EXPECT_EQ(Reply::Pending, pending.reply->peekStatus());
}

TEST(ReplyImpl, WaitForAfterTheAnswerWasTakenKeepsTheAnswer)
{
    Pending pending;
    pending.promise.set_value(Message::create(L"answer", L"s", L""));
    EXPECT_EQ(Reply::Received, pending.reply->waitFor(10ms));
    EXPECT_EQ(Reply::Received, pending.reply->waitFor(10ms));
    EXPECT_EQ(Reply::Received, pending.reply->getStatus());
    EXPECT_TRUE(pending.reply->getMessage());
}

TEST(ReplyImpl, AReplyWithoutAFutureFails)
{
    std::future<std::shared_ptr<Message>> none;
    auto reply = ReplyImpl::create(std::move(none), 0ms);
    EXPECT_EQ(Reply::Failed, reply->waitFor(10ms));
    auto other = ReplyImpl::create(std::future<std::shared_ptr<Message>>(), 0ms);
    EXPECT_EQ(Reply::Failed, other->getStatus());
}

TEST(ReplyImpl, ACompletedFutureWithTimeoutZeroEvaluatesAtOnce)
{
    std::promise<std::shared_ptr<Message>> promise;
    promise.set_value(Message::create(L"now", L"s", L""));
    auto reply = ReplyImpl::create(promise.get_future(), 0ms);
    EXPECT_EQ(Reply::Received, reply->getStatus());
}

// A time-out at the end of the range waits for ever: the answer that comes
// while the reply waits is taken, and a reply whose client goes away ends
// as failed. Neither wait may overflow on its way.
class HugeTimeoutReply : public ::testing::TestWithParam<TestSupport::HugeTimeout> {};

TEST_P(HugeTimeoutReply, WaitsUntilTheAnswerOrTheEndOfItsClient)
{
    struct Case {
        const char* what;
        bool viaWaitFor;
        bool answered; // else the client goes away
        int32_t status;
    };
    const Case cases[] = {
        {"getStatus, answered", false, true, Reply::Received},
        {"waitFor, answered", true, true, Reply::Received},
        {"getStatus, client gone", false, false, Reply::Failed},
        {"waitFor, client gone", true, false, Reply::Failed},
    };
    for (const Case& c : cases) {
        Pending pending(GetParam().value);
        std::thread completion([&]() {
            std::this_thread::sleep_for(50ms);
            if (c.answered)
                pending.promise.set_value(Message::create(L"answer", L"s", L""));
            else
                std::promise<std::shared_ptr<Message>> abandoned = std::move(pending.promise);
        });
        const int32_t status = c.viaWaitFor ? pending.reply->waitFor(GetParam().value) : pending.reply->getStatus();
        EXPECT_EQ(c.status, status) << c.what;
        completion.join();
    }
}

TEST(ReplyImpl, TheMostNegativeTimeOutEndsAtOnce)
{
    Pending pending(std::chrono::milliseconds::min());
    EXPECT_EQ(Reply::TimedOut, pending.reply->getStatus());
    Pending waiting;
    EXPECT_EQ(Reply::Pending, waiting.reply->waitFor(std::chrono::milliseconds::min()));
}

INSTANTIATE_TEST_SUITE_P(Ends, HugeTimeoutReply, ::testing::ValuesIn(TestSupport::hugeTimeouts()),
                         [](const ::testing::TestParamInfo<TestSupport::HugeTimeout>& info) {
                             return std::string(info.param.label);
                         });
