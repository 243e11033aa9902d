// A settings service that fails the registrar: warnings, and the registrar goes on.
#include "ViewerRegistrarTestSupport.h"

#include <gtest/gtest.h>

namespace {

using ETWLogging::LOG_LEVEL_INFORMATION;
using ETWLogging::LOG_LEVEL_WARNING;
using SettingsPeer::Fault;
using ViewerRegTest::FailingBus;
using ViewerRegTest::kScale;

using ViewerRegistrarFailure = ViewerRegTest::RegistrarFixture;

TEST_F(ViewerRegistrarFailure, RefusedSubscriptionsAndQueryAreWarningsAndTheRegistrarGoesOn)
{
    auto failing = std::make_shared<FailingBus>();
    {
        Kest::ViewerRegistrar registrar(failing);
        registrar.start();
        EXPECT_TRUE(logged(LOG_LEVEL_WARNING, L"start", L"Failed to subscribe for alert viewer register operations."));
        EXPECT_TRUE(
            logged(LOG_LEVEL_WARNING, L"start", L"Failed to subscribe for alert viewer unregister operations."));
        EXPECT_TRUE(logged(LOG_LEVEL_WARNING, L"loadViewers", L"Failed to retrieved registered viewers."));
        EXPECT_TRUE(logged(LOG_LEVEL_INFORMATION, L"loadViewers", L"Retrieved viewers from SM: 0"));

        // A notice nobody takes changes nothing.
        registrar.addViewer(L"Sentrel/Viewer/v");
        const auto viewer = registrar.getViewer(L"v");
        ASSERT_TRUE(viewer);
        EXPECT_EQ(L"v", viewer->getName());
        const auto published = failing->published();
        ASSERT_EQ(1u, published.size());
        EXPECT_EQ(L"Sentrel.Viewer.v.Registered", published[0]->name());
        EXPECT_EQ(L"Sentrel", published[0]->source());
        EXPECT_EQ(L"", published[0]->payload());

        registrar.stop();
        EXPECT_EQ((std::vector<std::wstring>{L"^SettingsManager.Notify.Set.Sentrel/Viewer.*",
                                             L"^SettingsManager.Notify.Delete.Sentrel/Viewer.*"}),
                  failing->unsubscribed());
        EXPECT_TRUE(registrar.getViewer(L"v")) << "stopping leaves the list as it is";
    }
    EXPECT_EQ(2u, failing->unsubscribed().size()) << "stopped once, nothing is left for the destructor";
}

TEST_F(ViewerRegistrarFailure, AFailedQueryIsAWarningAndRetriedWhileTheListIsEmpty)
{
    // A service that never answers (the registrar's 30 s are 1.5 s then) and
    // one whose answer is not JSON.
    const Fault faults[] = {Fault::NoReply, Fault::NotJson};
    size_t round = 0;
    for (const Fault fault : faults) {
        ++round;
        SCOPED_TRACE(round);
        service.setFault(fault);
        control().setTimeScale(fault == Fault::NoReply ? kScale : 1.0);
        auto registrar = std::make_unique<Kest::ViewerRegistrar>(bus);
        registrar->start();
        control().setTimeScale(1.0);
        EXPECT_EQ(round, lineCount(LOG_LEVEL_WARNING, L"loadViewers", L"Failed to retrieved registered viewers."));
        EXPECT_EQ(round, lineCount(LOG_LEVEL_INFORMATION, L"loadViewers", L"Retrieved viewers from SM: 0"));

        service.setFault(Fault::None);
        const std::wstring seeded = L"seeded" + std::to_wstring(round);
        service.seed(L"Sentrel/Viewer/" + seeded, L"{}");
        EXPECT_TRUE(registrar->getViewer(seeded)) << "the empty list is asked for again";

        // The notices were subscribed all the same.
        const std::wstring live = L"live" + std::to_wstring(round);
        registerKey(L"Sentrel/Viewer/" + live);
        // Each round announces two viewers and their removal.
        notices(4 * round - 2);
        EXPECT_TRUE(registrar->getViewer(live));
        unregisterKey(L"Sentrel/Viewer/" + seeded);
        unregisterKey(L"Sentrel/Viewer/" + live);
        EXPECT_EQ(4 * round, notices(4 * round).size());
    }
    EXPECT_TRUE(log.contains(LOG_LEVEL_WARNING, L"Property list request timed out. Returning."));
    EXPECT_TRUE(log.contains(LOG_LEVEL_WARNING, L"Failed to parse settings manager response message. Returning."));
}

} // namespace
