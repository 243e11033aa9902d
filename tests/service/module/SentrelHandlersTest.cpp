// The module object's answers to products and to the system monitor, asked
// through the bus double.
#include "SentrelTestSupport.h"

#include "TestNames.h"

#include <gtest/gtest.h>

namespace {

using SentrelTest::ModuleFixture;
using TestSupport::LogQuery;

class SentrelHandlers : public ModuleFixture {
protected:
    void expectLine(uint32_t level, const wchar_t* function, const std::wstring& text)
    {
        const auto lines = log.find(LogQuery{level, L"SentrelImpl", function, text});
        ASSERT_EQ(1u, lines.size()) << TestSupport::narrow(text);
        EXPECT_EQ(text, lines[0].text);
    }
};

TEST_F(SentrelHandlers, GetIdHandsOutOneTwoThreeFromTheSentrelSource)
{
    for (const wchar_t* expected : {L"1", L"2", L"3"}) {
        const uint64_t index = send(L"Sentrel.Alert.GetId");
        const auto got = answer();
        EXPECT_EQ(index, got.replyIndex);
        EXPECT_EQ(L"Sentrel.Alert.GetId.Response", got.reply.name);
        EXPECT_EQ(L"Sentrel", got.reply.source);
        EXPECT_EQ(expected, got.reply.payload);
    }
}

TEST_F(SentrelHandlers, AnInstanceIsTheTextAfterTheLastDotUpToTheNextIdToBeHandedOut)
{
    const struct {
        const wchar_t* name;
        bool accepted;
        const wchar_t* instance;
    } beforeAnyId[] = {
        {L"Sentrel.Alert.Show.0", true, L"0"},
        {L"Sentrel.Alert.Show.1", true, L"1"}, // the next id, not yet handed out
        {L"Sentrel.Alert.Show.2", false, L""},
        {L"Sentrel.Alert.Show.", false, L""},
        {L"NoDotAtAll", false, L""},
    };
    for (const auto& c : beforeAnyId) {
        std::wstring instance = L"unchanged";
        EXPECT_EQ(c.accepted, module->parseInstanceId(c.name, instance)) << TestSupport::narrow(c.name);
        EXPECT_EQ(c.accepted ? c.instance : L"unchanged", instance) << TestSupport::narrow(c.name);
    }

    takeIdsUntil(8);
    const struct {
        const wchar_t* name;
        bool accepted;
    } afterSevenIds[] = {
        {L"Sentrel.Alert.Show.7", true},
        {L"Sentrel.Alert.Show.7x", true},
        {L"Sentrel.Alert.Show.07", true},
        {L"Sentrel.Alert.Show. +8", true},
        {L"Sentrel.Alert.Show.9", false},
        {L"Sentrel.Alert.Show.x7", false},
        {L"Sentrel.Alert.Show.-1", false},         // wraps to the largest number
        {L"Sentrel.Alert.Show.4294967296", false}, // does not fit in 32 bits
        {L"Sentrel.Alert.7.Show.", false},
    };
    for (const auto& c : afterSevenIds) {
        std::wstring instance;
        EXPECT_EQ(c.accepted, module->parseInstanceId(c.name, instance)) << TestSupport::narrow(c.name);
    }
}

TEST_F(SentrelHandlers, ShowIsAnsweredQueuedOrSuppressedAsTheSessionSays)
{
    takeIdsUntil(3);
    factory->script->suppressedAlertIds.insert(L"{SUP}");
    const uint64_t queuedIndex = send(L"Sentrel.Alert.Show.1", showRequest(L"{AB-12}", L"1"));
    const auto queued = answer();
    EXPECT_EQ(queuedIndex, queued.replyIndex);
    EXPECT_EQ(L"Sentrel.Alert.{AB-12}.Queued.1", queued.reply.name);
    EXPECT_EQ(L"", queued.reply.payload);
    EXPECT_EQ(L"Sentrel.Alert.{SUP}.Suppressed.2", ask(L"Sentrel.Alert.Show.2", showRequest(L"{SUP}", L"2")));
    // Instance 0 and the next id not yet handed out are accepted too.
    EXPECT_EQ(L"Sentrel.Alert.{Z}.Queued.0", ask(L"Sentrel.Alert.Show.0", showRequest(L"{Z}", L"0")));
    EXPECT_EQ(L"Sentrel.Alert.{N}.Queued.3", ask(L"Sentrel.Alert.Show.3", showRequest(L"{N}", L"3")));

    EXPECT_EQ((std::vector<std::wstring>{L"createGlobalSession", L"global queue {AB-12} 1", L"global queue {SUP} 2",
                                         L"global queue {Z} 0", L"global queue {N} 3"}),
              journal->lines());
    expectLine(ETWLogging::LOG_LEVEL_INFORMATION, L"Kest::SentrelImpl::showAlertHandler",
               L"Sentrel Alert Status Request. Alert id: {AB-12}, Instance id: 1");
    // Nobody is logged on under Wine: global alerts wait in the global queue.
    EXPECT_EQ(4u, log.find(LogQuery{ETWLogging::LOG_LEVEL_WARNING, L"SentrelImpl",
                                    L"Kest::SentrelImpl::startActiveSession", L"No active session was found."})
                      .size());
}

TEST_F(SentrelHandlers, InstanceTextsMustMatchThePayloadExactly)
{
    takeIdsUntil(8);
    EXPECT_EQ(L"Sentrel.Alert.{X}.Queued.7x", ask(L"Sentrel.Alert.Show.7x", showRequest(L"{X}", L"7x")));
    const uint64_t mismatched = send(L"Sentrel.Alert.Show.7", showRequest(L"{Y}", L"07"));
    EXPECT_EQ(L"Sentrel.Alert.{Y}.Queued.7", ask(L"Sentrel.Alert.Show.7", showRequest(L"{Y}", L"7")));
    EXPECT_NE(mismatched, 0u);
    expectLine(ETWLogging::LOG_LEVEL_ERROR, L"Kest::SentrelImpl::showAlertHandler",
               L"Invalid input. Instance name and payload are mismatched.");
}

TEST_F(SentrelHandlers, ARequestForAUserSessionMakesThatSessionOnceAndUsesItAfterwards)
{
    takeIdsUntil(3);
    EXPECT_EQ(L"Sentrel.Alert.{A}.Queued.1", ask(L"Sentrel.Alert.Show.1", showRequest(L"{A}", L"1", 5)));
    EXPECT_EQ(L"Sentrel.Alert.{B}.Queued.2", ask(L"Sentrel.Alert.Show.2", showRequest(L"{B}", L"2", 5)));
    EXPECT_EQ(L"Sentrel.Alert.{C}.Queued.3", ask(L"Sentrel.Alert.Show.3", showRequest(L"{C}", L"3", 6)));
    EXPECT_EQ((std::vector<std::wstring>{L"createGlobalSession", L"createUserSession 5", L"user5 queue {A} 1",
                                         L"user5 queue {B} 2", L"createUserSession 6", L"user6 queue {C} 3"}),
              journal->lines());
    EXPECT_TRUE(log.find(LogQuery{0, L"", L"Kest::SentrelImpl::startActiveSession", L""}).empty());
}

TEST_F(SentrelHandlers, DeleteRepliesNameNoAlertAndLookInTheGlobalQueueFirst)
{
    takeIdsUntil(13);
    EXPECT_EQ(L"Sentrel.Alert.{U}.Queued.11", ask(L"Sentrel.Alert.Show.11", showRequest(L"{U}", L"11", 5)));
    factory->script->deletableInstances = {L"global:12", L"user5:11"};

    EXPECT_EQ(L"Sentrel.Alert..Deleted.12", ask(L"Sentrel.Alert.Delete.12", showRequest(L"{G}", L"12")));
    EXPECT_EQ(L"Sentrel.Alert..Deleted.11", ask(L"Sentrel.Alert.Delete.11", showRequest(L"{U}", L"11")));
    EXPECT_EQ(L"Sentrel.Alert..NotFound.10", ask(L"Sentrel.Alert.Delete.10", showRequest(L"{G}", L"10")));

    std::vector<std::wstring> deletes;
    for (const auto& line : journal->lines())
        if (line.find(L" delete ") != std::wstring::npos)
            deletes.push_back(line);
    EXPECT_EQ((std::vector<std::wstring>{L"global delete 12 {G}", L"global delete 11 {U}", L"user5 delete 11 {U}",
                                         L"global delete 10 {G}", L"user5 delete 10 {G}"}),
              deletes);
    expectLine(ETWLogging::LOG_LEVEL_INFORMATION, L"Kest::SentrelImpl::deleteAlert",
               L"Alert removed from global queue.");
    expectLine(ETWLogging::LOG_LEVEL_INFORMATION, L"Kest::SentrelImpl::deleteAlert",
               L"Alert removed from user session.");
    expectLine(ETWLogging::LOG_LEVEL_INFORMATION, L"Kest::SentrelImpl::deleteAlertHandler",
               L"Alert instance 12 deleted.");
    expectLine(ETWLogging::LOG_LEVEL_INFORMATION, L"Kest::SentrelImpl::deleteAlertHandler",
               L"Alert instance 10 not found and not being shown - can't delete it");
    EXPECT_EQ(1u, journal->count(L"createUserSession 5")) << "a delete makes no session";
}

TEST_F(SentrelHandlers, BadRequestsGetNoReplyAndAnErrorLine)
{
    takeIdsUntil(2);
    const struct {
        const wchar_t* name;
        const wchar_t* payload;
        const wchar_t* function;
        const wchar_t* line;
    } cases[] = {
        {L"Sentrel.Alert.Show.9", L"{}", L"Kest::SentrelImpl::showAlertHandler",
         L"Failed to parse instance id from message name: Sentrel.Alert.Show.9."},
        {L"Sentrel.Alert.Show.1", L"not-json", L"Kest::SentrelImpl::showAlertHandler",
         L"Failed to parse message payload not-json. Instance: 1."},
        {L"Sentrel.Alert.Delete.x", L"{}", L"Kest::SentrelImpl::deleteAlertHandler",
         L"Failed to parse instance id from message name: Sentrel.Alert.Delete.x."},
        {L"Sentrel.Alert.Delete.1", L"{\"id\":1}", L"Kest::SentrelImpl::deleteAlertHandler",
         L"Failed to parse message payload. Instance: 1. Message Payload : {\"id\":1}"},
    };
    for (const auto& c : cases)
        send(c.name, c.payload);
    // The executor works in posting order: once this is answered, every bad
    // request before it has been handled.
    const uint64_t good = send(L"Sentrel.Alert.Show.1", showRequest(L"{OK}", L"1"));
    const auto first = answer();
    EXPECT_EQ(good, first.replyIndex) << TestSupport::narrow(first.reply.name);
    EXPECT_EQ(L"Sentrel.Alert.{OK}.Queued.1", first.reply.name);

    for (const auto& c : cases)
        expectLine(ETWLogging::LOG_LEVEL_ERROR, c.function, c.line);
    const auto unsuccessful = log.find(LogQuery{ETWLogging::LOG_LEVEL_ERROR, L"", L"", L"SR Callback unsuccessful."});
    EXPECT_EQ(4u, unsuccessful.size());
    EXPECT_EQ((std::vector<std::wstring>{L"createGlobalSession", L"global queue {OK} 1"}), journal->lines());
}

TEST_F(SentrelHandlers, QueueStatusAnswersOneWhileTheGlobalQueueHoldsAlerts)
{
    EXPECT_EQ(L"0", askPayload(L"Sentrel.Queue.GetStatus"));
    factory->global->empty = false;
    const uint64_t index = send(L"Sentrel.Queue.GetStatus");
    const auto got = answer();
    EXPECT_EQ(index, got.replyIndex);
    EXPECT_EQ(L"Sentrel.Queue.GetStatus.Response", got.reply.name);
    EXPECT_EQ(L"Sentrel", got.reply.source);
    EXPECT_EQ(L"1", got.reply.payload);
}

TEST_F(SentrelHandlers, LogOffEndsOnlyTheNamedKnownSession)
{
    takeIdsUntil(2);
    ask(L"Sentrel.Alert.Show.1", showRequest(L"{A}", L"1", 5));
    const std::wstring longPayload = L"[" + std::wstring(150, L'x');
    const struct {
        std::wstring payload;
        uint32_t status;
        std::wstring line;
    } cases[] = {
        {L"not json", MODULE_STATUS_INVALID_PARAMETER,
         L"Failed to parse SystemMonitor.UserSession.Logoff payload: not json."},
        {longPayload, MODULE_STATUS_INVALID_PARAMETER,
         L"Failed to parse SystemMonitor.UserSession.Logoff payload: [" + std::wstring(99, L'x') + L"."},
        {L"{\"session\":5}", MODULE_STATUS_INVALID_PARAMETER,
         L"Failed to parse session id. Payload: {\"session\":5}."},
        {L"{\"sessionId\":-5}", MODULE_STATUS_INVALID_PARAMETER,
         L"Failed to parse session id. Payload: {\"sessionId\":-5}."},
        {L"{\"sessionId\":\"5\"}", MODULE_STATUS_INVALID_PARAMETER,
         L"Failed to parse session id. Payload: {\"sessionId\":\"5\"}."},
        {L"{\"sessionId\":9}", MODULE_STATUS_SUCCESS, L""},
        {L"{\"sessionId\":5}", MODULE_STATUS_SUCCESS, L"Clearing alert session after logout. Session id: 5."},
    };
    size_t delivered = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(0u, journal->count(L"user5 destroyed")) << TestSupport::narrow(c.payload);
        product->publish(L"SystemMonitor.UserSession.Logoff", L"monitor", c.payload);
        EXPECT_EQ(c.status, waitForHandled(L"SystemMonitor.UserSession.Logoff", ++delivered))
            << TestSupport::narrow(c.payload);
        if (!c.line.empty())
            expectLine(c.status ? ETWLogging::LOG_LEVEL_ERROR : ETWLogging::LOG_LEVEL_INFORMATION,
                       L"Kest::SentrelImpl::handleSessionLogoff", c.line);
    }
    EXPECT_EQ(1u, journal->count(L"user5 destroyed"));

    // A later request for that session makes a new one.
    takeIdsUntil(3);
    ask(L"Sentrel.Alert.Show.2", showRequest(L"{B}", L"2", 5));
    EXPECT_EQ(2u, journal->count(L"createUserSession 5"));
    EXPECT_EQ(0u, journal->count(L"createUserSession 9"));
}

} // namespace
