#include "MessageWatcher.h"

#include "RawBusPeer.h"
#include "TestNames.h"
#include "WaitUntil.h"

#include "message/MessageBusClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <limits>
#include <thread>
#include <vector>

using BusDouble::Call;
using BusDouble::RawBusPeer;
using Kest::MessageWatcher;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

// A watcher on a bus client of the in-process bus double, and a peer that
// publishes what the service would.
class MessageWatcherTest : public ::testing::Test {
protected:
    void SetUp() override { RawBusPeer::control().reset(); }

    static std::vector<BusDouble::JournalEntry> journal(Call call, const std::wstring& name = L"")
    {
        std::vector<BusDouble::JournalEntry> entries;
        BusDouble::JournalEntry entry{};
        for (uint32_t i = 0; RawBusPeer::control().journalEntry(i, &entry); ++i)
            if (entry.call == call && (name.empty() || name == entry.name))
                entries.push_back(entry);
        return entries;
    }
    void publish(const std::wstring& messageName) { ASSERT_EQ(0U, peer.publish(messageName, L"Sentrel", L"")); }

    const std::wstring name = L"Sentrel.Viewer." + TestSupport::uniqueName() + L".Unregistered";
    RawBusPeer peer;
    std::shared_ptr<Ostrand::MessageBusClient> bus = std::make_shared<Ostrand::MessageBusClient>();
};

TEST_F(MessageWatcherTest, TheMessageWakesEveryWaiterLongBeforeTheDeadline)
{
    MessageWatcher watcher(bus);
    ASSERT_EQ(0U, watcher.watch(name));
    EXPECT_EQ(name, watcher.name());

    const Clock::time_point start = Clock::now();
    auto first = std::async(std::launch::async, [&] { return watcher.waitFor(60000); });
    auto second = std::async(std::launch::async, [&] { return watcher.waitFor(60000); });
    std::this_thread::sleep_for(100ms);
    publish(name);
    EXPECT_TRUE(first.get());
    EXPECT_TRUE(second.get());
    EXPECT_LT(Clock::now() - start, 30s);
}

// The tool subscribes before it removes the registration: a notice that
// comes before the wait begins counts, and the wait then does not block.
TEST_F(MessageWatcherTest, AMessageBeforeTheWaitIsKept)
{
    MessageWatcher watcher(bus);
    watcher.watch(name);
    publish(name);
    // Its delivery runs on a bus thread; the first long wait sees it.
    EXPECT_TRUE(watcher.waitFor(60000));
    const Clock::time_point start = Clock::now();
    EXPECT_TRUE(watcher.waitFor(60000));
    EXPECT_TRUE(watcher.waitFor(0));
    EXPECT_LT(Clock::now() - start, 30s);
}

TEST_F(MessageWatcherTest, OtherMessagesDoNotEndTheWaitBeforeItsDeadline)
{
    MessageWatcher watcher(bus);
    watcher.watch(name);
    const Clock::time_point start = Clock::now();
    auto waited = std::async(std::launch::async, [&] { return watcher.waitFor(600); });
    publish(name + L"x");
    publish(L"Sentrel.Viewer.other.Unregistered");
    EXPECT_FALSE(waited.get());
    EXPECT_GE(Clock::now() - start, 600ms);
}

TEST_F(MessageWatcherTest, NoWaitForZeroOrLessAndNoOverflowForTheLongest)
{
    MessageWatcher watcher(bus);
    watcher.watch(name);
    const std::vector<int64_t> noWait = {0, -1, -1000, std::numeric_limits<int64_t>::min()};
    const Clock::time_point start = Clock::now();
    for (int64_t milliseconds : noWait)
        EXPECT_FALSE(watcher.waitFor(milliseconds)) << milliseconds;
    EXPECT_LT(Clock::now() - start, 30s);

    auto longest = std::async(std::launch::async, [&] { return watcher.waitFor(std::numeric_limits<int64_t>::max()); });
    std::this_thread::sleep_for(100ms);
    publish(name);
    ASSERT_EQ(std::future_status::ready, longest.wait_for(30s));
    EXPECT_TRUE(longest.get());
    for (int64_t milliseconds : noWait)
        EXPECT_TRUE(watcher.waitFor(milliseconds)) << milliseconds;
}

TEST_F(MessageWatcherTest, DestructionUnsubscribesTheWatchedName)
{
    {
        MessageWatcher watcher(bus);
        watcher.watch(name);
        ASSERT_EQ(1U, journal(Call::Subscribe, name).size());
    }
    const std::vector<BusDouble::JournalEntry> subscribed = journal(Call::Subscribe, name);
    const std::vector<BusDouble::JournalEntry> unsubscribed = journal(Call::Unsubscribe);
    ASSERT_EQ(1U, unsubscribed.size());
    EXPECT_EQ(subscribed[0].subscription, unsubscribed[0].subscription);

    // A later notice reaches nobody but a probe: the watcher it would wake is gone.
    RawBusPeer probe;
    ASSERT_NE(0U, probe.subscribe(name));
    const size_t deliveriesBefore = journal(Call::DeliverMessage).size();
    publish(name);
    RawBusPeer::Delivery heard;
    ASSERT_TRUE(probe.waitForDelivery(heard));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return journal(Call::DeliverMessage).size() > deliveriesBefore; }));
    EXPECT_EQ(deliveriesBefore + 1, journal(Call::DeliverMessage).size());

    // A watcher that never watched leaves the bus alone.
    { MessageWatcher idle(bus); }
    EXPECT_EQ(1U, journal(Call::Unsubscribe).size());
}

TEST_F(MessageWatcherTest, WatchingAnotherNameReplacesTheFirst)
{
    MessageWatcher watcher(bus);
    watcher.watch(name + L"1");
    watcher.watch(name);
    EXPECT_EQ(1U, journal(Call::Unsubscribe).size());
    publish(name + L"1");
    EXPECT_FALSE(watcher.waitFor(300));
    publish(name);
    EXPECT_TRUE(watcher.waitFor(60000));
}

TEST(MessageWatcherWithoutBus, RefusesToWatch)
{
    MessageWatcher watcher(nullptr);
    EXPECT_EQ(MODULE_STATUS_INVALID_STATE, watcher.watch(L"Sentrel.Viewer.a.Unregistered"));
    EXPECT_FALSE(watcher.waitFor(0));
}

} // namespace
