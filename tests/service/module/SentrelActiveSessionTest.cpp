// The module with its real sessions while the session API double says which
// Windows session is the active one.
#include "SentrelTestSupport.h"

#include "TestNames.h"
#include "WtsDoubleControl.h"

#include "dll/ModuleManagerShim.h"

#include <gtest/gtest.h>

namespace {

using SentrelTest::ModuleFixture;
using TestSupport::LogQuery;

class SentrelActiveSession : public ModuleFixture {
protected:
    bool makesModuleAtSetUp() const override { return false; }

    void SetUp() override
    {
        ModuleFixture::SetUp();
        ASSERT_TRUE(wts.ready());
        ASSERT_TRUE(WtsDouble::WtsDoubleControl::doubleLoaded());
        // Logged on just now: the user session waits out its start delay
        // for the whole test.
        wts.setActiveSession(5);
        wts.setLoggedOnSecondsAgo(5, 0);

        bus = std::make_shared<Ostrand::MessageBusClient>();
        viewers = std::make_shared<SentrelTest::RecordingViewerRegistrar>(bus, journal);
        plugins = std::make_shared<SentrelTest::RecordingPluginRegistrar>(journal);
        // No factory: the module makes the real global and user sessions.
        module = std::make_unique<Kest::SentrelImpl>(viewers, plugins, nullptr, clock);
        ASSERT_EQ(MODULE_STATUS_SUCCESS,
                  module->baseInitialize(kModuleName, L"", {},
                                         std::make_shared<Ostrand::internal::ModuleManagerShim>(nullptr, nullptr),
                                         bus));
        ASSERT_EQ(MODULE_STATUS_SUCCESS, module->initialize());
    }

    size_t creationLines() const
    {
        return log.find(LogQuery{ETWLogging::LOG_LEVEL_INFORMATION, L"SentrelImpl",
                                 L"Kest::SentrelImpl::startActiveSession",
                                 L"Creating session for the active session. Session id: 5."})
            .size();
    }

    WtsDouble::WtsDoubleControl wts;
};

TEST_F(SentrelActiveSession, AGlobalAlertMakesASessionForTheActiveUserWhichStaysBusyThroughItsStartDelay)
{
    takeIdsUntil(3);
    EXPECT_EQ(L"Sentrel.Alert.{G}.Queued.1", ask(L"Sentrel.Alert.Show.1", showRequest(L"{G}", L"1")));
    EXPECT_EQ(1u, creationLines());
    EXPECT_EQ(L"1", askPayload(L"Sentrel.Queue.GetStatus"));

    // With the global queue empty again only the session's start delay
    // keeps the service busy.
    EXPECT_EQ(L"Sentrel.Alert..Deleted.1", ask(L"Sentrel.Alert.Delete.1", showRequest(L"{G}", L"1")));
    EXPECT_EQ(L"1", askPayload(L"Sentrel.Queue.GetStatus"));

    // The session is made once, not per request.
    EXPECT_EQ(L"Sentrel.Alert.{H}.Queued.2", ask(L"Sentrel.Alert.Show.2", showRequest(L"{H}", L"2")));
    EXPECT_EQ(1u, creationLines());
}

TEST_F(SentrelActiveSession, WithoutAnActiveUserTheGlobalAlertWaitsAndNoSessionIsMade)
{
    wts.setSessions({{0, WtsDouble::ConnectState::Active}, {5, WtsDouble::ConnectState::Disconnected}});
    takeIdsUntil(2);
    EXPECT_EQ(L"Sentrel.Alert.{G}.Queued.1", ask(L"Sentrel.Alert.Show.1", showRequest(L"{G}", L"1")));
    EXPECT_EQ(0u, creationLines());
    EXPECT_EQ(1u, log.find(LogQuery{ETWLogging::LOG_LEVEL_WARNING, L"SentrelImpl",
                                    L"Kest::SentrelImpl::startActiveSession", L"No active session was found."})
                      .size());
    EXPECT_EQ(L"Sentrel.Alert..Deleted.1", ask(L"Sentrel.Alert.Delete.1", showRequest(L"{G}", L"1")));
    EXPECT_EQ(L"0", askPayload(L"Sentrel.Queue.GetStatus"));
}

} // namespace
