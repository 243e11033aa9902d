#include "SessionTestSupport.h"

#include "session/ActiveSession.h"
#include "session/SessionStartDelay.h"

#include <gtest/gtest.h>

namespace {

using Kest::SessionLogon;
using WtsDouble::ConnectState;
namespace StartDelay = Kest::SessionStartDelay;

constexpr uint64_t kSecond = 10000000;

SessionLogon loggedOnAt(uint64_t ticks)
{
    SessionLogon logon;
    logon.answer = SessionLogon::Answer::LogonTime;
    logon.logonTime = ticks;
    return logon;
}

TEST(SessionStartDelay, TheRestOfTwoMinutesAfterTheLogOnOrAllOfThemWhenItIsUnknown)
{
    const uint64_t now = 133000000000000000ull;
    SessionLogon unexpected;
    unexpected.answer = SessionLogon::Answer::UnexpectedSize;
    SessionLogon failed;
    failed.answer = SessionLogon::Answer::Failed;
    failed.error = 5;
    const struct {
        const char* what;
        SessionLogon logon;
        uint64_t seconds;
    } cases[] = {
        {"just now", loggedOnAt(now), 120},
        {"30 s ago", loggedOnAt(now - 30 * kSecond), 90},
        {"119.9 s ago", loggedOnAt(now - 1199 * kSecond / 10), 1},
        {"120 s ago", loggedOnAt(now - 120 * kSecond), 0},
        {"10 min ago", loggedOnAt(now - 600 * kSecond), 0},
        // A clock set back reads as a log-on long ago: no wait at all.
        {"in the future", loggedOnAt(now + 30 * kSecond), 0},
        {"odd size", unexpected, 120},
        {"failed query", failed, 120},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.seconds, StartDelay::seconds(c.logon, now)) << c.what;
}

class SessionQueryTest : public SessionTest::SessionFixture {};

TEST_F(SessionQueryTest, TheLogOnTimeIsReadOnlyFromARecordOfTheKnownSize)
{
    sessions.setLoggedOnSecondsAgo(1, 30);
    sessions.setLoggedOnSecondsAgo(2, 600);
    sessions.failInfo(3, 5);
    sessions.setInfoSize(4, 200);
    sessions.setInfoSize(5, 220);
    sessions.setInfoSize(6, 0);
    const struct {
        uint32_t sessionId;
        SessionLogon::Answer answer;
        uint32_t error;
        uint64_t seconds;
    } cases[] = {
        {1, SessionLogon::Answer::LogonTime, 0, 90},
        {2, SessionLogon::Answer::LogonTime, 0, 0},
        {3, SessionLogon::Answer::Failed, 5, 120},
        {4, SessionLogon::Answer::UnexpectedSize, 0, 120},
        {5, SessionLogon::Answer::UnexpectedSize, 0, 120},
        {6, SessionLogon::Answer::UnexpectedSize, 0, 120},
        // Unknown to the system: the query fails as Wine's own library does.
        {7, SessionLogon::Answer::Failed, 0, 120},
    };
    for (const auto& c : cases) {
        const SessionLogon logon = StartDelay::queryLogon(c.sessionId);
        EXPECT_EQ(c.answer, logon.answer) << c.sessionId;
        EXPECT_EQ(c.error, logon.error) << c.sessionId;
        EXPECT_EQ(c.seconds, StartDelay::seconds(logon, StartDelay::now())) << c.sessionId;
    }
}

TEST_F(SessionQueryTest, TheActiveSessionIsTheFirstActiveOneAndNeverSessionZero)
{
    const struct {
        const char* what;
        std::vector<WtsDouble::Session> list;
        bool found;
        uint32_t sessionId;
    } cases[] = {
        {"no sessions", {}, false, 0},
        {"only services", {{0, ConnectState::Active}}, false, 0},
        {"the first active one",
         {{0, ConnectState::Disconnected}, {2, ConnectState::Connected}, {3, ConnectState::Active},
          {4, ConnectState::Active}},
         true, 3},
        {"session 0 listed first and active", {{0, ConnectState::Active}, {3, ConnectState::Active}}, false, 0},
        {"none active", {{3, ConnectState::Disconnected}, {4, ConnectState::Idle}}, false, 0},
    };
    for (const auto& c : cases) {
        sessions.setSessions(c.list);
        const Kest::ActiveSession active = Kest::findActiveSession();
        EXPECT_TRUE(active.enumerated) << c.what;
        EXPECT_EQ(c.found, active.found) << c.what;
        EXPECT_EQ(c.sessionId, active.sessionId) << c.what;
    }

    sessions.failListing(1722);
    const Kest::ActiveSession failed = Kest::findActiveSession();
    EXPECT_FALSE(failed.enumerated);
    EXPECT_EQ(1722u, failed.error);
    EXPECT_FALSE(failed.found);
}

} // namespace
