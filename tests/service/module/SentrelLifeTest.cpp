// The module object's life: what it makes, what it subscribes, how it ends.
#include "SentrelTestSupport.h"

#include "TestNames.h"
#include "WaitUntil.h"
#include "WaitableCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;
using SentrelTest::Journal;
using SentrelTest::ModuleFixture;
using TestSupport::LogQuery;

class SentrelLife : public ModuleFixture {};

TEST_F(SentrelLife, TheFactoryMakesExactlyOneGlobalSessionFromTheModulesRegistrars)
{
    EXPECT_EQ(1u, journal->count(L"createGlobalSession"));
    EXPECT_EQ(viewers, factory->globalViewers);
    EXPECT_EQ(plugins, factory->globalPlugins);

    // Without registrars the module hands the factory the ones it made.
    auto otherJournal = std::make_shared<Journal>();
    auto otherFactory = std::make_shared<SentrelTest::RecordingFactory>(otherJournal);
    {
        Kest::SentrelImpl defaults(nullptr, nullptr, otherFactory);
        EXPECT_EQ((std::vector<std::wstring>{L"createGlobalSession"}), otherJournal->lines());
        EXPECT_TRUE(otherFactory->globalViewers);
        EXPECT_TRUE(otherFactory->globalPlugins);
        EXPECT_EQ(MODULE_STATUS_SUCCESS, defaults.uninitialize());
    }
    otherFactory->global.reset();
    EXPECT_EQ(1u, otherJournal->lines().size()) << "no user session is made before a request asks for one";
}

TEST_F(SentrelLife, StartAndStopDriveBothRegistrarsInOrderAlsoWithoutInitialize)
{
    EXPECT_EQ(MODULE_STATUS_SUCCESS, module->start());
    EXPECT_EQ(MODULE_STATUS_SUCCESS, module->stop());
    Kest::SentrelImpl uninitialized(viewers, plugins, factory);
    EXPECT_EQ(MODULE_STATUS_SUCCESS, uninitialized.start());
    EXPECT_EQ(MODULE_STATUS_SUCCESS, uninitialized.stop());
    EXPECT_EQ(MODULE_STATUS_SUCCESS, uninitialized.uninitialize());

    std::vector<std::wstring> calls = journal->lines();
    calls.erase(std::remove(calls.begin(), calls.end(), L"createGlobalSession"), calls.end());
    EXPECT_EQ((std::vector<std::wstring>{L"viewers start", L"plugins start", L"viewers stop", L"plugins stop",
                                         L"viewers start", L"plugins start", L"viewers stop", L"plugins stop"}),
              calls);
}

TEST_F(SentrelLife, InitializeSubscribesTheFiveHandlersByPatternAndUninitializeRemovesThem)
{
    std::vector<std::wstring> patterns = journalNames(BusDouble::Call::SubscribeFilter);
    std::sort(patterns.begin(), patterns.end());
    EXPECT_EQ((std::vector<std::wstring>{L"Sentrel.Alert.Delete..+", L"Sentrel.Alert.GetId",
                                         L"Sentrel.Alert.Show..+", L"Sentrel.Queue.GetStatus",
                                         L"SystemMonitor.UserSession.Logoff"}),
              patterns);
    EXPECT_TRUE(journalNames(BusDouble::Call::Subscribe).empty());

    // Every "." of a pattern matches any character; Show and Delete need a
    // character after their last dot.
    EXPECT_EQ(L"Sentrel.Alert.GetId.Response", ask(L"SentrelxAlertxGetId"));
    EXPECT_EQ(L"Sentrel.Queue.GetStatus.Response", ask(L"Sentrel.Queue.GetStatus"));
    EXPECT_EQ(MODULE_STATUS_NO_SUBSCRIBERS, product->request(L"Sentrel.Alert.Show.", L"{}", 1000, 90));
    EXPECT_EQ(MODULE_STATUS_NO_SUBSCRIBERS, product->request(L"Sentrel.Alert.GetId.", L"", 1000, 91));

    control().reset();
    EXPECT_EQ(MODULE_STATUS_SUCCESS, module->uninitialize());
    EXPECT_EQ(5u, journalNames(BusDouble::Call::Unsubscribe).size());
    EXPECT_EQ(MODULE_STATUS_NO_SUBSCRIBERS, product->request(L"Sentrel.Alert.GetId", L"", 1000, 92));
    EXPECT_FALSE(log.contains(ETWLogging::LOG_LEVEL_WARNING, L"Unable to"));
}

TEST_F(SentrelLife, AHandlerThatCannotBeSubscribedIsLoggedAndTheOthersGoOn)
{
    destroyModule();
    // A bus whose filter subscriptions fail for one pattern.
    class PickyBus : public Ostrand::MessageBusClient {
    public:
        MODULE_STATUS subscribeFilter(const std::wstring& pattern, const std::wstring& alias,
                                      Callback callback) override
        {
            if (pattern == L"Sentrel.Alert.GetId")
                return MODULE_STATUS_UNSUCCESSFUL;
            return Ostrand::MessageBusClient::subscribeFilter(pattern, alias, std::move(callback));
        }
        MODULE_STATUS unsubscribe(const std::wstring& alias) override
        {
            if (alias == L"Sentrel.Queue.GetStatus")
                return MODULE_STATUS_NOT_FOUND;
            return Ostrand::MessageBusClient::unsubscribe(alias);
        }
    };
    module = std::make_unique<Kest::SentrelImpl>(viewers, plugins, factory, clock);
    ASSERT_EQ(MODULE_STATUS_SUCCESS,
              module->baseInitialize(kModuleName, L"", {},
                                     std::make_shared<Ostrand::internal::ModuleManagerShim>(nullptr, nullptr),
                                     std::make_shared<PickyBus>()));
    EXPECT_EQ(MODULE_STATUS_SUCCESS, module->initialize());
    EXPECT_EQ(L"Sentrel.Queue.GetStatus.Response", ask(L"Sentrel.Queue.GetStatus"));
    EXPECT_EQ(MODULE_STATUS_SUCCESS, module->uninitialize());

    const auto subscribeLines = log.find(LogQuery{ETWLogging::LOG_LEVEL_WARNING, L"SentrelImpl",
                                                  L"Kest::SentrelImpl::setupHandlers", L"Unable to subscribe"});
    ASSERT_EQ(1u, subscribeLines.size());
    EXPECT_EQ(L"Unable to subscribe to message Sentrel.Alert.GetId : returned 2147483650.", subscribeLines[0].text);
    const auto unsubscribeLines = log.find(LogQuery{ETWLogging::LOG_LEVEL_WARNING, L"SentrelImpl",
                                                    L"Kest::SentrelImpl::cleanupHandlers", L"Unable to unsubscribe"});
    ASSERT_EQ(1u, unsubscribeLines.size());
    EXPECT_EQ(L"Unable to unsubscribe to message Sentrel.Queue.GetStatus : returned 2147483658.",
              unsubscribeLines[0].text);
}

TEST_F(SentrelLife, AfterUninitializeTasksStillQueuedNeverRun)
{
    takeIdsUntil(4);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    TestSupport::WaitableCounter entered;
    factory->script->onQueue = [&](const Kest::AlertInfo&) {
        entered.increment();
        released.wait();
    };
    send(L"Sentrel.Alert.Show.1", showRequest(L"A", L"1"));
    ASSERT_TRUE(entered.waitFor(1, TestSupport::kGenerousWait));
    send(L"Sentrel.Alert.Show.2", showRequest(L"B", L"2"));
    send(L"Sentrel.Alert.Delete.3", showRequest(L"C", L"3"));
    waitForHandled(L"Sentrel.Alert.Show.2");
    waitForHandled(L"Sentrel.Alert.Delete.3");

    EXPECT_EQ(MODULE_STATUS_SUCCESS, module->uninitialize());
    release.set_value();
    // The task that ran when the executor was told to exit still finishes.
    const auto first = answer();
    EXPECT_EQ(L"Sentrel.Alert.A.Queued.1", first.reply.name);
    destroyModule();

    EXPECT_EQ(1u, entered.value());
    EXPECT_EQ(0u, journal->count(L"global queue B 2"));
    EXPECT_EQ(0u, journal->count(L"global delete 3 C"));
    const auto exits = log.find(LogQuery{ETWLogging::LOG_LEVEL_INFORMATION, L"", L"", L"Exiting SR executor thread"});
    EXPECT_EQ(1u, exits.size());
}

TEST_F(SentrelLife, DestroyingAModuleThatWasNeverUninitializedEndsItsThreadAndItsSubscriptions)
{
    std::promise<void> destroyed;
    std::future<void> done = destroyed.get_future();
    std::thread([&]() {
        module.reset();
        destroyed.set_value();
    }).detach();
    ASSERT_EQ(std::future_status::ready, done.wait_for(20s)) << "the destructor hangs";
    EXPECT_EQ(1u, log.find(LogQuery{ETWLogging::LOG_LEVEL_INFORMATION, L"", L"", L"Exiting SR executor thread"})
                      .size());
    // The module's bus outlives it: nothing may reach the destroyed handlers.
    EXPECT_EQ(MODULE_STATUS_NO_SUBSCRIBERS, product->request(L"Sentrel.Alert.GetId", L"", 1000, 92));
    EXPECT_EQ(MODULE_STATUS_NO_SUBSCRIBERS, product->request(L"Sentrel.Alert.Show.1", L"{}", 1000, 93));
}

} // namespace
