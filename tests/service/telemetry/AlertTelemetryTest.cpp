#include "telemetry/AlertTelemetry.h"

#include "TelemetryServerFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

using namespace Kest::AlertTelemetry;
using Record = std::map<std::wstring, std::wstring>;

// Dimensions an event has only when it says so.
const wchar_t* const kOptional[] = {L"Event.Label", L"Hit.GUID",    L"Hit.Result",  L"Hit.Label.1",
                                    L"Hit.Label.2", L"Hit.Label.3", L"Hit.Label.4"};

struct Case {
    const wchar_t* id;
    const wchar_t* action;
    const wchar_t* interactive;
    const wchar_t* kind;
    std::function<void()> send;
    Record own;
};

TEST(AlertTelemetry, EveryEventCarriesTheCommonDimensionsAndExactlyItsOwn)
{
    TestSupport::TelemetryServerFixture server;
    const Case cases[] = {
        {L"Sentrel.Alert.Request", L"SR received the Alert request", L"false", L"Request",
         [] { sendAlertRequest(L"{A1}", L"prod", 0); },
         {{L"Hit.GUID", L"{A1}"}, {L"Event.Label", L"prod"}, {L"Hit.Result", L"0"}}},
        {L"Sentrel.Alert.SuppressedDuplicate", L"SuppressedDuplicate", L"false", L"SuppressedDuplicate",
         [] { sendSuppressedDuplicate(L"{A1}", L"prod"); }, {{L"Hit.GUID", L"{A1}"}, {L"Hit.Label.1", L"prod"}}},
        {L"Sentrel.Alert.Delete", L"Deleted", L"false", L"Deleted", [] { sendAlertDelete(L"{D}"); },
         {{L"Hit.GUID", L"{D}"}, {L"Hit.Label.1", L"Legacy"}}},
        {L"Sentrel.UserSession.Failed", L"SR failed to get session", L"false", L"Session",
         [] { sendUserSessionFailed(4, 1008); }, {{L"Event.Label", L"4"}, {L"Hit.Result", L"1008"}}},
        {L"Sentrel.Plugin.Failed", L"SR failed to load Plugin", L"false", L"Plugin",
         [] { sendPluginFailed(L"prod", 0x80000003u); }, {{L"Event.Label", L"prod"}, {L"Hit.Result", L"2147483651"}}},
        {L"Sentrel.Alert.Suppressed", L"Suppressed", L"false", L"Suppressed",
         [] { sendAlertSuppressed(L"{A1}", L"prod", L"extra"); },
         {{L"Hit.GUID", L"{A1}"}, {L"Hit.Label.1", L"prod"}, {L"Hit.Label.2", L"extra"}}},
        {L"Sentrel.Failed.PluginProcess", L"SR failed to process Plugin", L"false", L"Failure",
         [] { sendPluginProcessFailed(L"{A1}", L"prod", 0, L"v1,v2", true); },
         {{L"Hit.GUID", L"{A1}"},
          {L"Event.Label", L"prod"},
          {L"Hit.Result", L"0"},
          {L"Hit.Label.1", L"NoViewer"},
          {L"Hit.Label.2", L"v1,v2"},
          {L"Hit.Label.3", L"1"}}},
        {L"Sentrel.Failed.AlertInfoParse", L"SR failed to parse AlertInfo", L"false", L"Failure",
         [] { sendAlertInfoParseFailed(L"", L"v1", L"prod"); },
         {{L"Hit.GUID", L""},
          {L"Event.Label", L"parseFailed"},
          {L"Hit.Result", L"0"},
          {L"Hit.Label.1", L"NoViewer"},
          {L"Hit.Label.2", L"v1"},
          {L"Hit.Label.3", L"prod"}}},
        {L"Sentrel.Warning.GetContentFailed", L"SR warning-Failed to get content", L"false", L"Warning",
         [] { sendGetContentFailed(L"{A1}", L"prod", 0x80000002u, L"v2"); },
         {{L"Hit.GUID", L"{A1}"}, {L"Event.Label", L"prod"}, {L"Hit.Result", L"2147483650"}, {L"Hit.Label.1", L"v2"}}},
        {L"Sentrel.Alert.Shown", L"Shown", L"true", L"Shown",
         [] { sendAlertShown(L"{A1}", L"v2", L"v1,v2", L"prod", -5); },
         {{L"Hit.GUID", L"{A1}"},
          {L"Hit.Label.1", L"v2"},
          {L"Hit.Label.2", L"v1,v2"},
          {L"Hit.Label.3", L"prod"},
          {L"Hit.Label.4", L"-5"}}},
        {L"Sentrel.Failed.Show", L"SR failed to Show in preferred viewers", L"false", L"Failure",
         [] { sendShowFailed(L"{A1}", L"prod", 516, L"v1,v2,v3", false); },
         {{L"Hit.GUID", L"{A1}"},
          {L"Event.Label", L"prod"},
          {L"Hit.Result", L"516"},
          {L"Hit.Label.1", L"All"},
          {L"Hit.Label.2", L"v1,v2,v3"},
          {L"Hit.Label.3", L"0"}}},
        {L"Sentrel.Alert.TimeOut", L"Time Out", L"false", L"TimeOut", [] { sendAlertTimeOut(L"{A1}", L"v1"); },
         {{L"Hit.GUID", L"{A1}"}, {L"Hit.Label.1", L"v1"}}},
        {L"Sentrel.Warning.ViewerFailure", L"SR warning-Failed to show Viewer", L"false", L"Warning",
         [] { sendViewerFailure(L"{A1}", L"v1", 0x8000000Du); },
         {{L"Hit.GUID", L"{A1}"}, {L"Event.Label", L"v1"}, {L"Hit.Result", L"2147483661"}}},
        {L"Sentrel.Failed.Dismiss", L"SR failed to Dismiss Alert", L"false", L"Failure",
         [] { sendDismissFailed(L"{A1}", L"v1", 0x8000000Eu); },
         {{L"Hit.GUID", L"{A1}"}, {L"Event.Label", L"Dismiss"}, {L"Hit.Result", L"2147483662"}, {L"Hit.Label.1", L"v1"}}},
        {L"Sentrel.Alert.Dismissed", L"Dismissed", L"true", L"Dismissal", [] { sendAlertDismissed(L"{A1}", L"v1"); },
         {{L"Hit.GUID", L"{A1}"}, {L"Hit.Label.1", L"v1"}}},
    };

    size_t sent = 0;
    for (const auto& c : cases) {
        c.send();
        const auto records = server.records();
        ASSERT_EQ(++sent, records.size()) << c.id;
        Record record;
        ASSERT_TRUE(TestSupport::parseFlatRecord(records.back(), record)) << records.back();

        EXPECT_EQ(c.id, record[L"UniqueIdentifier"]);
        EXPECT_EQ(L"Kest", record[L"Event.Category"]) << c.id;
        EXPECT_EQ(c.action, record[L"Event.Action"]) << c.id;
        EXPECT_EQ(c.interactive, record[L"Interactive"]) << c.id;
        EXPECT_EQ(L"false", record[L"UserInitiated"]) << c.id;
        EXPECT_EQ(L"Sentrel", record[L"Sub.Category"]) << c.id;
        EXPECT_EQ(c.kind, record[L"Tertiary.Category"]) << c.id;
        for (const wchar_t* key : kOptional) {
            const auto expected = c.own.find(key);
            if (expected == c.own.end())
                EXPECT_EQ(0u, record.count(key)) << c.id << " has " << key;
            else
                EXPECT_EQ(expected->second, record[key]) << c.id;
        }
    }
}

} // namespace
