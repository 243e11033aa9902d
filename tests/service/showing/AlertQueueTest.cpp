#include "ShowingTestSupport.h"

#include "alert/AlertQueue.h"
#include "message/MessageBusClient.h"

#include <gtest/gtest.h>

namespace {

using Kest::Alert;
using Kest::AlertQueue;
using ShowingTest::makeContext;
using ShowingTest::makeInfo;

class AlertQueueTest : public ShowingTest::ShowingFixture {
protected:
    // Every alert of a test on one connection: the queue never talks to the bus.
    std::shared_ptr<Alert> alert(const std::wstring& instanceId, int32_t priority, const std::wstring& title,
                                 size_t actions = 1)
    {
        auto info = makeInfo(L"{A}", instanceId, 0, priority);
        info.context = makeContext(title, L"D", L"X", std::vector<std::wstring>(actions, L"OK"));
        return std::make_shared<Alert>(info, bus);
    }

    static std::vector<std::wstring> drain(AlertQueue& queue)
    {
        std::vector<std::wstring> order;
        while (auto next = queue.pop())
            order.push_back(next->getInfo().instanceId);
        return order;
    }

    std::shared_ptr<Ostrand::MessageBusClient> bus = std::make_shared<Ostrand::MessageBusClient>();
};

TEST_F(AlertQueueTest, MostUrgentFirstAndTheEarlierFirstAmongEquals)
{
    AlertQueue queue;
    const struct {
        const wchar_t* instance;
        int32_t priority;
    } inserted[] = {{L"1", 2}, {L"2", 1}, {L"3", 3}, {L"4", 1}, {L"5", 3}, {L"6", 2}};
    for (const auto& i : inserted)
        ASSERT_TRUE(queue.insert(alert(i.instance, i.priority, std::wstring(L"title ") + i.instance)));
    EXPECT_EQ(6u, queue.count());
    ASSERT_TRUE(queue.peek());
    EXPECT_EQ(L"2", queue.peek()->getInfo().instanceId);
    EXPECT_EQ(6u, queue.count()) << "peek leaves the alert in place";
    EXPECT_EQ((std::vector<std::wstring>{L"2", L"4", L"1", L"6", L"3", L"5"}), drain(queue));
    EXPECT_EQ(0u, queue.count());
    EXPECT_FALSE(queue.pop());
    EXPECT_FALSE(queue.peek());
}

TEST_F(AlertQueueTest, ADuplicateIsRefusedWhateverItsPriorityAndTheWaitingOneKeepsItsPlace)
{
    AlertQueue queue;
    ASSERT_TRUE(queue.insert(alert(L"1", 2, L"low")));
    ASSERT_TRUE(queue.insert(alert(L"2", 2, L"same")));
    EXPECT_FALSE(queue.insert(alert(L"3", 1, L"same")));
    EXPECT_FALSE(queue.insert(nullptr));
    EXPECT_EQ(2u, queue.count());
    EXPECT_EQ((std::vector<std::wstring>{L"1", L"2"}), drain(queue));

    // Once taken to be shown it waits no more: its equal is welcome.
    ASSERT_TRUE(queue.insert(alert(L"4", 2, L"same")));
    auto shown = queue.pop();
    EXPECT_TRUE(queue.insert(alert(L"5", 2, L"same")));
}

TEST_F(AlertQueueTest, AlertsWithMoreThanFourActionsAreNeverDuplicates)
{
    AlertQueue queue;
    EXPECT_TRUE(queue.insert(alert(L"1", 3, L"many", 5)));
    EXPECT_TRUE(queue.insert(alert(L"2", 3, L"many", 5)));
    EXPECT_TRUE(queue.insert(alert(L"3", 3, L"four", 4)));
    EXPECT_FALSE(queue.insert(alert(L"4", 3, L"four", 4)));
    EXPECT_EQ(3u, queue.count());
}

TEST_F(AlertQueueTest, RemoveTakesTheFrontMostAlertOfThatInstanceOnly)
{
    AlertQueue queue;
    ASSERT_TRUE(queue.insert(alert(L"9", 2, L"a")));
    ASSERT_TRUE(queue.insert(alert(L"7", 2, L"b")));
    ASSERT_TRUE(queue.insert(alert(L"7", 3, L"c")));
    EXPECT_FALSE(queue.remove(L"70"));
    EXPECT_FALSE(queue.remove(L""));
    EXPECT_TRUE(queue.remove(L"7"));
    EXPECT_EQ(2u, queue.count());
    auto front = queue.pop();
    auto back = queue.pop();
    ASSERT_TRUE(front && back);
    EXPECT_EQ(L"9", front->getInfo().instanceId);
    EXPECT_EQ(3, back->getInfo().priority) << "the later alert of instance 7 stays";
    EXPECT_FALSE(queue.remove(L"7"));
}

} // namespace
