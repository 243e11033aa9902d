#include "ShowingTestSupport.h"
#include "TestNames.h"
#include "ViewerDouble.h"
#include "WaitUntil.h"

#include "alert/Alert.h"
#include "message/MessageBusClient.h"
#include "viewer/AlertViewer.h"

#include <gtest/gtest.h>

#include <future>
#include <regex>

namespace {

using Kest::Alert;
using ShowingTest::makeContext;
using ShowingTest::makeInfo;
using ShowingTest::ShowingFixture;
using ViewerDouble::Answer;
using ViewerDouble::Outcome;
using namespace std::chrono_literals;

const wchar_t kViewerName[] = L"toast";
// An alert second passes in a tenth of a second: a dismissal's 30 s take 3 s.
const double kAlertTimeScale = 0.1;
// A wait of this length that ends has ended for its outcome.
const int64_t kForever = 600;

TEST(AlertOutcomePattern, MatchesExactlyTheOutcomesOfThisAlert)
{
    const struct {
        const wchar_t* alertId;
        const wchar_t* instanceId;
        const wchar_t* name;
        bool matches;
    } cases[] = {
        {L"{AB-12}", L"7", L"Sentrel.Alert.{AB-12}.Failed.7", true},
        {L"{AB-12}", L"7", L"Sentrel.Alert.{AB-12}.Dismissed.7", true},
        {L"{AB-12}", L"7", L"Sentrel.Alert.{AB-12}.Shown.7", false},
        {L"{AB-12}", L"7", L"Sentrel.Alert.{AB-12}.Failed.77", false},
        {L"{AB-12}", L"7", L"Sentrel.Alert.{AB-13}.Failed.7", false},
        {L"{AB-12}", L"7", L"SentrelXAlert.{AB-12}.Failed.7", false},
        {L"{AB-12}", L"7", L"Sentrel.Alert.{AB-12}XFailedX7", false},
        // Ids are the requester's text: nothing in them acts as a pattern.
        {L"a(b", L"7", L"Sentrel.Alert.a(b.Dismissed.7", true},
        {L"a.c", L"7", L"Sentrel.Alert.abc.Dismissed.7", false},
        {L"x+", L"1*", L"Sentrel.Alert.x+.Failed.1*", true},
        {L"x+", L"1*", L"Sentrel.Alert.xx.Failed.1", false},
        {L"[^]|$\\", L"?", L"Sentrel.Alert.[^]|$\\.Failed.?", true},
    };
    for (const auto& c : cases) {
        const std::wstring pattern = Alert::outcomePattern(c.alertId, c.instanceId);
        std::wregex regex;
        ASSERT_NO_THROW(regex.assign(pattern, std::regex_constants::ECMAScript)) << pattern;
        EXPECT_EQ(c.matches, std::regex_match(std::wstring(c.name), regex)) << c.name << " against " << pattern;
    }
}

class AlertTest : public ShowingFixture {
protected:
    std::shared_ptr<Alert> makeAlert(const std::wstring& alertId, const std::wstring& instanceId,
                                     uint32_t sessionId = 0)
    {
        auto alert = std::make_shared<Alert>(makeInfo(alertId, instanceId, sessionId), nullptr, timeScale);
        alert->setViewer(proxy);
        return alert;
    }

    // Publishes a crash notice as the host and answers what the `expected`
    // subscribers it reached returned.
    std::vector<uint32_t> publishCrash(const std::wstring& payload, size_t expected)
    {
        const auto before = journal(BusDouble::Call::DeliverMessage, Alert::kSessionCrashed).size();
        host.publish(Alert::kSessionCrashed, L"Strova", payload);
        std::vector<BusDouble::JournalEntry> deliveries;
        TestSupport::waitUntil([&] {
            deliveries = journal(BusDouble::Call::DeliverMessage, Alert::kSessionCrashed);
            return deliveries.size() >= before + expected;
        });
        std::vector<uint32_t> statuses;
        for (size_t i = before; i < deliveries.size(); ++i)
            statuses.push_back(deliveries[i].status);
        return statuses;
    }

    std::shared_ptr<Kest::AlertTimeScale> timeScale = std::make_shared<Kest::AlertTimeScale>(kAlertTimeScale);
    std::shared_ptr<Kest::AlertViewer> proxy = std::make_shared<Kest::AlertViewer>(kViewerName);
    ViewerDouble::Viewer viewer{kViewerName};
    BusDouble::RawBusPeer host;
};

TEST_F(AlertTest, TheViewersOutcomeRightAfterItsAnswerEndsTheWait)
{
    for (const Outcome outcome : {Outcome::Dismissed, Outcome::Failed}) {
        viewer.answerShow(Answer::Shown, outcome);
        const std::wstring instance = outcome == Outcome::Dismissed ? L"1" : L"2";
        auto alert = makeAlert(L"{AB-12}", instance);
        ASSERT_TRUE(alert->show());
        EXPECT_TRUE(alert->isShown());
        EXPECT_TRUE(alert->wait(kForever)) << instance;
        // Finished is final: later waits answer at once.
        EXPECT_TRUE(alert->wait(kForever));
    }
    const auto requests = viewer.requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(L"{AB-12}", requests[0].alertId) << "the Show payload is the alert information";
}

TEST_F(AlertTest, WithoutAnOutcomeTheWaitEndsAtItsTimeAndUnsubscribes)
{
    auto alert = makeAlert(L"{AB-12}", L"3");
    ASSERT_TRUE(alert->show());
    const auto before = journal(BusDouble::Call::Unsubscribe).size();
    EXPECT_FALSE(alert->wait(1));
    EXPECT_EQ(before + 2, journal(BusDouble::Call::Unsubscribe).size());
}

TEST_F(AlertTest, ACrashNoticeEndsOnlyTheWaitsOfItsSession)
{
    auto ofThree = makeAlert(L"{A}", L"1", 3);
    auto ofFour = makeAlert(L"{B}", L"2", 4);
    // Requested for whichever user is active; session 3 shows it.
    auto globalOnThree = makeAlert(L"{C}", L"3", 0);
    globalOnThree->setShowingSession(3);
    auto globalOnFour = makeAlert(L"{D}", L"4", 0);
    globalOnFour->setShowingSession(4);
    for (const auto& alert : {ofThree, ofFour, globalOnThree, globalOnFour})
        ASSERT_TRUE(alert->show());

    EXPECT_EQ((std::vector<uint32_t>{0, 0, 0, 0}), publishCrash(L"{\"sessionId\":3}", 4));
    EXPECT_TRUE(ofThree->wait(kForever));
    EXPECT_TRUE(globalOnThree->wait(kForever));
    EXPECT_FALSE(ofFour->wait(1));
    EXPECT_FALSE(globalOnFour->wait(1));
}

TEST_F(AlertTest, AnUnreadableCrashNoticeIsLoggedRefusedAndChangesNothing)
{
    const struct {
        const wchar_t* payload;
        const wchar_t* line;
    } cases[] = {
        {L"not json", L"Failed to parse Strova.UserSession.Crashed payload: not json."},
        {L"{\"sessionId\":-3}", L"Failed to parse session id. Payload: {\"sessionId\":-3}."},
        {L"{\"session\":3}", L"Failed to parse session id. Payload: {\"session\":3}."},
    };
    auto alert = makeAlert(L"{A}", L"1", 3);
    ASSERT_TRUE(alert->show());
    for (const auto& c : cases) {
        EXPECT_EQ(std::vector<uint32_t>{MODULE_STATUS_INVALID_PARAMETER}, publishCrash(c.payload, 1)) << c.payload;
        EXPECT_FALSE(log.find({ETWLogging::LOG_LEVEL_ERROR, L"Alert", L"Kest::Alert::onSessionCrashed", c.line})
                         .empty())
            << c.line;
    }
    // A long payload is quoted by its first 100 characters.
    publishCrash(std::wstring(150, L'x'), 1);
    EXPECT_TRUE(log.contains(ETWLogging::LOG_LEVEL_ERROR, L"payload: " + std::wstring(100, L'x') + L"."));
    EXPECT_FALSE(alert->wait(1));
}

TEST_F(AlertTest, ShowAsksItsViewerOnceUntilResetAndNeverWithoutOne)
{
    auto alert = makeAlert(L"{A}", L"1");
    EXPECT_FALSE(alert->wait(kForever)) << "never shown";
    ASSERT_TRUE(alert->show());
    EXPECT_TRUE(alert->show());
    ASSERT_TRUE(viewer.waitForRequests(1));
    EXPECT_EQ(1u, viewer.requests().size());

    // The next viewer gets its own request; the viewer refusing keeps the
    // alert's subscriptions for the attempt after it.
    viewer.answerShow(Answer::Failed);
    EXPECT_TRUE(alert->resetShown());
    EXPECT_FALSE(alert->show());
    EXPECT_EQ(2u, viewer.requests().size());

    auto viewerless = std::make_shared<Alert>(makeInfo(L"{B}", L"2"), nullptr, timeScale);
    EXPECT_FALSE(viewerless->show());
    EXPECT_FALSE(viewerless->isShown());
    EXPECT_EQ(2u, viewer.requests().size());
}

TEST_F(AlertTest, DismissSendsADeleteOnlyForAShownUnfinishedAlert)
{
    auto neverShown = makeAlert(L"{A}", L"1");
    EXPECT_FALSE(neverShown->dismiss());

    viewer.answerShow(Answer::Shown, Outcome::Dismissed);
    auto finished = makeAlert(L"{B}", L"2");
    ASSERT_TRUE(finished->show());
    ASSERT_TRUE(finished->wait(kForever));
    EXPECT_TRUE(finished->dismiss());

    for (const auto& request : viewer.requests())
        EXPECT_TRUE(request.show) << "no Delete request: " << request.name;
}

TEST_F(AlertTest, DismissAfterATimedOutWaitEndsWithTheViewersConfirmation)
{
    auto alert = makeAlert(L"{A}", L"1");
    ASSERT_TRUE(alert->show());
    ASSERT_FALSE(alert->wait(0));
    // The viewer confirms and reports the dismissal; the alert hears it even
    // though its earlier wait gave up listening.
    EXPECT_TRUE(alert->dismiss());
    const auto requests = viewer.requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(L"Sentrel.Viewer.toast.Delete.1", requests[1].name);
}

TEST_F(AlertTest, ADeleteConfirmedByItsReplyAloneEndsTheAlertAndEveryWaitAtOnce)
{
    for (const ViewerDouble::Client client : {ViewerDouble::Client::Raw, ViewerDouble::Client::Sdk}) {
        const std::wstring name = client == ViewerDouble::Client::Raw ? L"confirms-raw" : L"confirms-sdk";
        SCOPED_TRACE(TestSupport::narrow(name));
        ViewerDouble::Viewer confirming(name, client);
        confirming.answerDelete(Answer::Dismissed, Outcome::None);
        auto alert = std::make_shared<Alert>(makeInfo(L"{A}", L"1"), nullptr, timeScale);
        alert->setViewer(std::make_shared<Kest::AlertViewer>(name));
        ASSERT_TRUE(alert->show());
        std::promise<bool> outcome;
        std::future<bool> waited = outcome.get_future();
        std::thread dispatch([&] { outcome.set_value(alert->wait(kForever)); });

        EXPECT_TRUE(alert->dismiss());
        EXPECT_EQ(std::future_status::ready, waited.wait_for(30s)) << "the dispatch thread still waits";
        dispatch.join();
        EXPECT_TRUE(waited.get());
        EXPECT_TRUE(alert->dismiss()) << "finished: no second Delete";
        EXPECT_EQ(2u, confirming.requests().size());
    }
}

TEST_F(AlertTest, ARefusedDeleteFailsTheAlertForEveryoneWaiting)
{
    viewer.answerDelete(Answer::Failed, Outcome::None);
    auto alert = makeAlert(L"{A}", L"1");
    ASSERT_TRUE(alert->show());
    EXPECT_FALSE(alert->dismiss());
    // The proxy's ".Failed." notice reached the alert's own subscription.
    EXPECT_TRUE(alert->wait(kForever));
}

TEST_F(AlertTest, AnAlertGoneBeforeItsOutcomeLeavesASharedBusClean)
{
    auto shared = std::make_shared<Ostrand::MessageBusClient>();
    {
        Alert alert(makeInfo(L"{A}", L"1"), shared, timeScale);
        alert.setViewer(proxy);
        ASSERT_TRUE(alert.show());
    }
    // A probe hears both notices; once it has, nobody else did: the alert
    // took its subscriptions with it. Only these two names count: the viewer's
    // own delivery of the Show request may be journalled after its reply came back.
    const std::wstring outcome = ViewerDouble::Viewer::outcomeName(L"{A}", Outcome::Dismissed, L"1");
    BusDouble::RawBusPeer probe;
    ASSERT_NE(0u, probe.subscribe(outcome));
    ASSERT_NE(0u, probe.subscribe(Alert::kSessionCrashed));
    const auto delivered = [&] {
        return journal(BusDouble::Call::DeliverMessage, outcome).size() +
               journal(BusDouble::Call::DeliverMessage, Alert::kSessionCrashed).size();
    };
    const auto before = delivered();
    viewer.report(L"1", Outcome::Dismissed);
    host.publish(Alert::kSessionCrashed, L"Strova", L"{\"sessionId\":0}");
    BusDouble::RawBusPeer::Delivery heard;
    ASSERT_TRUE(probe.waitForDelivery(heard));
    ASSERT_TRUE(probe.waitForDelivery(heard));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return delivered() >= before + 2; }));
    EXPECT_EQ(before + 2, delivered());
}

TEST_F(AlertTest, DuplicatesShowTheSameTitleContentsAndActions)
{
    const std::vector<std::wstring> two{L"OK", L"Later"};
    const std::vector<std::wstring> five{L"1", L"2", L"3", L"4", L"5"};
    const std::wstring base = makeContext(L"T", L"D", L"X", two);
    const struct {
        std::wstring first, second;
        bool duplicate;
    } cases[] = {
        {base, base, true},
        {base, makeContext(L"T", L"D", L"X", {L"OK", L"later"}), false},
        {base, makeContext(L"t", L"D", L"X", two), false},
        {base, makeContext(L"T", L"D2", L"X", two), false},
        {base, makeContext(L"T", L"D", L"X2", two), false},
        {base, makeContext(L"T", L"D", L"X", {L"OK"}), false},
        {makeContext(L"T", L"D", L"X", {}), makeContext(L"T", L"D", L"X", {}), true},
        {makeContext(L"T", L"D", L"X", five), makeContext(L"T", L"D", L"X", five), false},
    };
    for (const auto& c : cases) {
        // Ids, priorities and sessions never count.
        auto first = makeInfo(L"{A}", L"1", 1, 1);
        first.context = c.first;
        auto second = makeInfo(L"{B}", L"2", 2, 3);
        second.context = c.second;
        Alert a(first, nullptr, timeScale), b(second, nullptr, timeScale);
        EXPECT_EQ(c.duplicate, a.isDuplicate(b)) << c.first << " / " << c.second;
        EXPECT_EQ(c.duplicate, b.isDuplicate(a)) << c.second << " / " << c.first;
        // A plugin's rewrite replaces the information, not what was compared.
        a.setInfo(makeInfo(L"{C}", L"3"));
        EXPECT_EQ(c.duplicate, a.isDuplicate(b)) << "after setInfo: " << c.first;
    }
}

TEST_F(AlertTest, PreferredViewersAreJoinedWithCommas)
{
    const struct {
        std::vector<std::wstring> viewers;
        const wchar_t* joined;
    } cases[] = {
        {{}, L""},
        {{L"toast"}, L"toast"},
        {{L"toast", L"banner", L"web"}, L"toast,banner,web"},
        {{L"", L"banner"}, L",banner"},
    };
    for (const auto& c : cases) {
        auto info = makeInfo(L"{A}", L"1");
        info.preferredViewer = c.viewers;
        EXPECT_EQ(c.joined, Alert(info, nullptr, timeScale).getPreferredViewerList());
    }
}

} // namespace
