#include "WaitUntil.h"

#include "session/DispatchTurns.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

using namespace std::chrono_literals;

namespace {

TEST(DispatchTurnsTest, ASecondTakerOfAnIdWaitsForTheFirstToGiveItBackWhileOtherIdsGoOn)
{
    Kest::DispatchTurns turns;
    const auto never = [] { return false; };
    ASSERT_TRUE(turns.take(3, never));
    EXPECT_TRUE(turns.take(5, never)) << "another id has a turn of its own";

    auto second = std::async(std::launch::async, [&] { return turns.take(3, never); });
    ASSERT_EQ(std::future_status::timeout, second.wait_for(200ms))
        << "the second taker went on before the turn was given back";
    turns.give(3);
    ASSERT_EQ(std::future_status::ready, second.wait_for(TestSupport::kGenerousWait));
    EXPECT_TRUE(second.get());
    turns.give(3);
    turns.give(5);
}

TEST(DispatchTurnsTest, AStoppedTakerGivesUpWithoutTheTurn)
{
    Kest::DispatchTurns turns;
    const auto never = [] { return false; };
    ASSERT_TRUE(turns.take(3, never));

    std::atomic<bool> stopped{false};
    auto waiting = std::async(std::launch::async, [&] { return turns.take(3, [&] { return stopped.load(); }); });
    // Waiting, so that only the wake-up can end its wait.
    ASSERT_EQ(std::future_status::timeout, waiting.wait_for(200ms));
    stopped = true;
    turns.wake();
    ASSERT_EQ(std::future_status::ready, waiting.wait_for(TestSupport::kGenerousWait));
    EXPECT_FALSE(waiting.get());

    // The turn stayed with its holder, and is free once given back.
    turns.give(3);
    EXPECT_TRUE(turns.take(3, never));
    EXPECT_FALSE(turns.take(7, [] { return true; }));
}

} // namespace
