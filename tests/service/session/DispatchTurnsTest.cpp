#include "WaitUntil.h"

#include "session/DispatchTurns.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace {

TEST(DispatchTurnsTest, ASecondTakerOfAnIdWaitsForTheFirstToGiveItBackWhileOtherIdsGoOn)
{
    Kest::DispatchTurns turns;
    const auto never = [] { return false; };
    ASSERT_TRUE(turns.take(3, never));
    EXPECT_TRUE(turns.take(5, never)) << "another id has a turn of its own";

    std::atomic<bool> given{false};
    auto second = std::async(std::launch::async, [&] {
        const bool took = turns.take(3, never);
        return took && given.load();
    });
    given = true;
    turns.give(3);
    EXPECT_TRUE(second.get()) << "the second taker went on before the turn was given back";
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
