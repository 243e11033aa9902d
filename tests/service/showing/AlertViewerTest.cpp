#include "ShowingTestSupport.h"
#include "ViewerDouble.h"
#include "WaitUntil.h"

#include "message/MessageBusClient.h"
#include "viewer/AlertViewer.h"

#include <gtest/gtest.h>

namespace {

using Kest::AlertViewer;
using ShowingTest::ShowingFixture;
using ViewerDouble::Answer;
using ViewerDouble::Outcome;
using namespace std::chrono_literals;

// A name with dots: it stands verbatim in both request names.
const wchar_t kViewerName[] = L"com.suite.toast";
const wchar_t kAlertJson[] = L"{\"id\":\"{AB-12}\",\"instanceId\":\"7\"}";

class ViewerProxyTest : public ShowingFixture {
protected:
    std::shared_ptr<Ostrand::MessageBusClient> bus = std::make_shared<Ostrand::MessageBusClient>();
    AlertViewer proxy{kViewerName, bus};
};

TEST_F(ViewerProxyTest, ShowIsAcceptedOnlyWithTheExpectedReplyName)
{
    const struct {
        Answer answer;
        MODULE_STATUS status;
        const wchar_t* line;
    } cases[] = {
        {Answer::Shown, MODULE_STATUS_SUCCESS, nullptr},
        {Answer::Dismissed, MODULE_STATUS_UNSUCCESSFUL,
         L"Received invalid response message: Sentrel.Alert.{AB-12}.Dismissed.7, expected: "
         L"Sentrel.Alert.{AB-12}.Shown.7."},
        {Answer::WrongCase, MODULE_STATUS_UNSUCCESSFUL,
         L"Received invalid response message: sentrel.Alert.{AB-12}.Shown.7"},
        {Answer::Silent, MODULE_STATUS_TIMEOUT, L"Request failed with status 2."},
    };
    ViewerDouble::Viewer viewer(kViewerName);
    size_t failures = 0;
    for (const auto& c : cases) {
        viewer.answerShow(c.answer);
        const bool shown = proxy.show(kAlertJson, L"{AB-12}", L"7");
        EXPECT_EQ(c.status == MODULE_STATUS_SUCCESS, shown) << int(c.answer);
        if (c.line) {
            EXPECT_FALSE(log.find({ETWLogging::LOG_LEVEL_ERROR, L"AlertViewer", L"Kest::AlertViewer::sendShowRequest",
                                   c.line})
                             .empty())
                << int(c.answer);
            const auto events = this->events(L"Sentrel.Warning.ViewerFailure");
            ASSERT_EQ(++failures, events.size());
            auto event = events.back();
            EXPECT_EQ(std::to_wstring(c.status), event[L"Hit.Result"]);
            EXPECT_EQ(kViewerName, event[L"Event.Label"]);
            EXPECT_EQ(L"{AB-12}", event[L"Hit.GUID"]);
        }
    }

    const auto requests = viewer.requests();
    ASSERT_EQ(4u, requests.size());
    for (const auto& request : requests) {
        EXPECT_EQ(std::wstring(L"Sentrel.Viewer.") + kViewerName + L".Show.7", request.name);
        EXPECT_EQ(L"Sentrel", request.source);
        EXPECT_EQ(kAlertJson, request.payload);
    }
    EXPECT_EQ(4u, journal(BusDouble::Call::RequestEx).size());
    for (const auto& entry : journal(BusDouble::Call::RequestEx))
        EXPECT_EQ(90000u, entry.timeoutMs);
}

TEST_F(ViewerProxyTest, ARequestNobodyTakesIsLoggedWithItsStatusName)
{
    EXPECT_EQ(MODULE_STATUS_NO_SUBSCRIBERS, proxy.sendShowRequest(kAlertJson, L"{AB-12}", L"7"));
    EXPECT_TRUE(log.contains(ETWLogging::LOG_LEVEL_ERROR,
                             L"Failed to make request, status: MODULE_STATUS_NO_SUBSCRIBERS"));
}

TEST_F(ViewerProxyTest, ConfirmedDeleteWritesTheStatusLineAndTheDismissedEvent)
{
    ViewerDouble::Viewer viewer(kViewerName);
    ASSERT_TRUE(proxy.show(kAlertJson, L"{AB-12}", L"7"));
    EXPECT_TRUE(proxy.dismiss(L"{AB-12}", L"7"));

    const auto requests = viewer.requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(std::wstring(L"Sentrel.Viewer.") + kViewerName + L".Delete.7", requests[1].name);
    EXPECT_EQ(L"Sentrel", requests[1].source);
    EXPECT_EQ(L"", requests[1].payload);

    const auto lines = log.find({ETWLogging::LOG_LEVEL_INFORMATION, L"AlertViewer", L"Kest::AlertViewer::dismiss",
                                 L"Sentrel Alert Status Dismissed."});
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(L"Sentrel Alert Status Dismissed. Alert id: {AB-12}, Instance id: 7", lines[0].text);

    const auto events = this->events(L"Sentrel.Alert.Dismissed");
    ASSERT_EQ(1u, events.size());
    auto event = events[0];
    EXPECT_EQ(L"{AB-12}", event[L"Hit.GUID"]);
    EXPECT_EQ(kViewerName, event[L"Hit.Label.1"]);
    EXPECT_EQ(L"true", event[L"Interactive"]);
    EXPECT_TRUE(this->events(L"Sentrel.Failed.Dismiss").empty());
}

TEST_F(ViewerProxyTest, FailedDeletePublishesTheAlertsFailedOutcome)
{
    const struct {
        bool viewerPresent;
        Answer answer;
        MODULE_STATUS status;
    } cases[] = {
        {false, Answer::Dismissed, MODULE_STATUS_NO_SUBSCRIBERS},
        {true, Answer::Failed, MODULE_STATUS_UNSUCCESSFUL},
        {true, Answer::Silent, MODULE_STATUS_TIMEOUT},
    };
    BusDouble::RawBusPeer watcher;
    watcher.subscribe(L"Sentrel.Alert.{AB-12}.Failed.7");
    size_t failures = 0;
    for (const auto& c : cases) {
        std::unique_ptr<ViewerDouble::Viewer> viewer;
        if (c.viewerPresent) {
            viewer.reset(new ViewerDouble::Viewer(kViewerName));
            viewer->answerDelete(c.answer, Outcome::None);
            ASSERT_TRUE(proxy.show(kAlertJson, L"{AB-12}", L"7"));
        }
        EXPECT_FALSE(proxy.dismiss(L"{AB-12}", L"7"));

        BusDouble::RawBusPeer::Delivery outcome;
        ASSERT_TRUE(watcher.waitForDelivery(outcome, TestSupport::kGenerousWait)) << int(c.answer);
        EXPECT_EQ(L"", outcome.payload);
        EXPECT_EQ(Ostrand::Message::defaultSource(), outcome.source);

        const auto events = this->events(L"Sentrel.Failed.Dismiss");
        ASSERT_EQ(++failures, events.size());
        auto event = events.back();
        EXPECT_EQ(std::to_wstring(c.status), event[L"Hit.Result"]) << c.viewerPresent;
        EXPECT_EQ(L"Dismiss", event[L"Event.Label"]);
        EXPECT_EQ(kViewerName, event[L"Hit.Label.1"]);
    }
    EXPECT_TRUE(this->events(L"Sentrel.Alert.Dismissed").empty());
    EXPECT_FALSE(log.contains(ETWLogging::LOG_LEVEL_INFORMATION, L"Sentrel Alert Status Dismissed."));
}

} // namespace
