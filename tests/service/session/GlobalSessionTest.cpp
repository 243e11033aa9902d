#include "SessionTestSupport.h"

#include "session/AlertGlobalSession.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;
using SessionTest::ScriptedDispatcher;

class GlobalSessionTest : public SessionTest::SessionFixture {
protected:
    void SetUp() override
    {
        SessionFixture::SetUp();
        dispatcher = std::make_shared<ScriptedDispatcher>(bus);
        global = std::make_shared<Kest::AlertGlobalSession>(nullptr, nullptr, dispatcher);
    }

    bool queue(const std::shared_ptr<Kest::Alert>& alert)
    {
        bool suppressed = false;
        global->queueAlert(alert, suppressed);
        return !suppressed;
    }

    // An alert made strictly after `earlier`, by the clock the comparison reads.
    std::shared_ptr<Kest::Alert> makeLater(const std::shared_ptr<Kest::Alert>& earlier, const std::wstring& alertId,
                                           const std::wstring& instanceId, int32_t priority)
    {
        for (;;) {
            auto alert = makeAlert(alertId, instanceId, priority);
            if (alert->getCreationTime() > earlier->getCreationTime())
                return alert;
            std::this_thread::sleep_for(1ms);
        }
    }

    std::shared_ptr<ScriptedDispatcher> dispatcher;
    std::shared_ptr<Kest::AlertGlobalSession> global;
};

TEST_F(GlobalSessionTest, TheMoreUrgentGoesFirstAndAmongEqualsTheOlder)
{
    const struct {
        int32_t globalPriority;
        int32_t userPriority;
        bool globalOlder;
        bool globalFirst;
    } cases[] = {
        {1, 2, false, true},
        {2, 1, true, false},
        {2, 2, true, true},
        {2, 2, false, false},
        {3, 3, true, true},
    };
    for (const auto& c : cases) {
        auto first = makeAlert(L"first", L"1", c.globalOlder ? c.globalPriority : c.userPriority);
        auto second = makeLater(first, L"second", L"2", c.globalOlder ? c.userPriority : c.globalPriority);
        auto globalAlert = c.globalOlder ? first : second;
        auto userAlert = c.globalOlder ? second : first;
        ASSERT_TRUE(queue(globalAlert));
        EXPECT_EQ(c.globalFirst, global->hasPriorityOver(userAlert))
            << "global P" << c.globalPriority << " against user P" << c.userPriority
            << (c.globalOlder ? ", global older" : ", user older");
        EXPECT_EQ(globalAlert, global->popAlert());
    }
    EXPECT_FALSE(global->hasPriorityOver(makeAlert(L"any", L"3", 3))) << "an empty queue never goes first";
    EXPECT_EQ(nullptr, global->popAlert());
}

TEST_F(GlobalSessionTest, AnAcceptedAlertWakesEverySessionOnceAndARefusedOneNone)
{
    TestSupport::WaitableCounter three, four, replaced;
    const uint64_t oldThree = global->registerSessionCallback(3, [&] { replaced.increment(); });
    const uint64_t fourToken = global->registerSessionCallback(4, [&] { four.increment(); });
    // A session made again for id 3 while the old one still ends: the
    // newer registration takes the place of the older, and the old one's
    // end removes only its own.
    global->registerSessionCallback(3, [&] { three.increment(); });
    global->unregisterSessionCallback(3, oldThree);
    EXPECT_EQ(0u, global->registerSessionCallback(5, nullptr));

    ASSERT_TRUE(queue(makeAlert(L"{A}", L"1", 3, L"Disk full")));
    EXPECT_EQ(1, three.value());
    EXPECT_EQ(1, four.value());
    EXPECT_EQ(0, replaced.value());
    EXPECT_FALSE(global->isEmpty());

    // Same display, other ids and priority: a duplicate.
    EXPECT_FALSE(queue(makeAlert(L"{B}", L"2", 1, L"Disk full")));
    expectDuplicateReported(L"AlertGlobalSession", L"{B}", L"2");

    dispatcher->suppress(L"3");
    EXPECT_FALSE(queue(makeAlert(L"{C}", L"3", 1)));
    EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_INFORMATION, L"AlertGlobalSession",
                       L"Plugin suppressed the alert. Alert id: {C}, Instance: 3."));
    EXPECT_EQ(1u, events(L"Sentrel.Alert.SuppressedDuplicate").size()) << "a suppression is no duplicate";

    global->unregisterSessionCallback(4, fourToken);
    EXPECT_TRUE(queue(makeAlert(L"{D}", L"4")));
    EXPECT_EQ(2, three.value());
    EXPECT_EQ(1, four.value());
    EXPECT_EQ(0, replaced.value());

    bool suppressed = false;
    global->queueAlert(nullptr, suppressed);
    EXPECT_TRUE(suppressed);
    EXPECT_EQ(2, three.value());
}

TEST_F(GlobalSessionTest, ADeleteRemovesAWaitingAlertButNotOneAlreadyTaken)
{
    ASSERT_TRUE(queue(makeAlert(L"{A}", L"1")));
    ASSERT_TRUE(queue(makeAlert(L"{B}", L"2")));

    EXPECT_TRUE(global->deleteAlert(L"1", L"{Requested}"));
    EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_INFORMATION, L"AlertGlobalSession",
                       L"Sentrel Alert Status Delete. Alert id: {Requested}, Instance id: 1."));
    const auto deletes = events(L"Sentrel.Alert.Delete");
    ASSERT_EQ(1u, deletes.size());
    EXPECT_EQ(L"{Requested}", deletes[0].at(L"Hit.GUID"));
    EXPECT_EQ(L"Legacy", deletes[0].at(L"Hit.Label.1"));
    EXPECT_FALSE(global->deleteAlert(L"1", L"{A}")) << "already gone";

    auto taken = global->popAlert();
    ASSERT_TRUE(taken);
    EXPECT_EQ(L"2", taken->getInfo().instanceId);
    EXPECT_FALSE(global->deleteAlert(L"2", L"{B}")) << "a user session took it";
    EXPECT_TRUE(global->isEmpty());
    EXPECT_EQ(1u, events(L"Sentrel.Alert.Delete").size());
}

// Alerts that user sessions took but ended before showing come back where
// they stood: behind the more urgent and the older, in front of the rest.
TEST_F(GlobalSessionTest, AnAlertPutBackTakesItsPlaceAgainAndWakesEverySession)
{
    TestSupport::WaitableCounter woken;
    global->registerSessionCallback(3, [&] { woken.increment(); });
    global->registerSessionCallback(4, [&] { woken.increment(); });
    auto older = makeAlert(L"{O}", L"1", 2);
    auto taken = makeLater(older, L"{T}", L"2", 2);
    auto second = makeLater(taken, L"{S}", L"3", 2);
    for (const auto& alert : {older, taken, second})
        ASSERT_TRUE(queue(alert));
    // Two sessions take the first two; then a more urgent one and a younger
    // equal arrive; the second taker ends first.
    EXPECT_EQ(older, global->popAlert());
    EXPECT_EQ(taken, global->popAlert());
    ASSERT_TRUE(queue(makeLater(second, L"{U}", L"4", 1)));
    ASSERT_TRUE(queue(makeLater(second, L"{Y}", L"5", 2)));
    const int before = woken.value();
    global->putBack(taken);
    EXPECT_EQ(before + 2, woken.value()) << "every session is told of the alert put back";
    global->putBack(older);
    global->putBack(nullptr);

    std::vector<std::wstring> order;
    while (auto next = global->popAlert())
        order.push_back(next->getInfo().instanceId);
    EXPECT_EQ((std::vector<std::wstring>{L"4", L"1", L"2", L"3", L"5"}), order);
}

} // namespace
