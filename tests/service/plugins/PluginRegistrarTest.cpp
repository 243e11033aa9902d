// The plugin registrar: its cache of hosts, the fall-back to the default
// plugin with its telemetry, invalidation by real deletion notices of the
// settings peer, and one plugin call at a time.
#include "PluginTestSupport.h"
#include "TelemetryServerFixture.h"
#include "WaitUntil.h"
#include "WaitableCounter.h"

#include "message/MessageBusClient.h"
#include "plugin/AlertPluginLib.h"
#include "plugin/PluginRegistrar.h"
#include "settings/SettingsManagerClient.h"

#include "ModuleStatus.h"

#include <map>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Kest::AlertPluginLib;
using Kest::PluginRegistrar;
using PluginTest::DefaultPluginKey;
using PluginTest::kAlertJson;
using PluginTest::kTimeout;
using Record = std::map<std::wstring, std::wstring>;

class PluginRegistrarTest : public PluginTest::PluginFixture {
protected:
    MODULE_STATUS process(const std::wstring& productId)
    {
        std::wstring json, extra;
        uint32_t suppress = 0;
        return registrar->processAlert(productId, kAlertJson, json, &suppress, extra);
    }
    MODULE_STATUS content(const std::wstring& productId, std::wstring& text)
    {
        return registrar->getAlertContent(productId, kAlertJson, L"Toast", text);
    }
    // The default plugin, loadable from a folder of the test's own.
    void installDefault()
    {
        PluginDouble::Control::install(defaultFolder.path(), L"zorplugin.dll");
        key.setFolder(defaultFolder.path());
    }
    std::vector<Record> pluginFailedEvents() const
    {
        std::vector<Record> events;
        for (const std::wstring& text : telemetry.records()) {
            Record record;
            if (TestSupport::parseFlatRecord(text, record) && record[L"UniqueIdentifier"] == L"Sentrel.Plugin.Failed")
                events.push_back(record);
        }
        return events;
    }
    // The files the plugin double was called as, for every call of `call`.
    std::vector<std::wstring> filesOf(const std::wstring& call) const
    {
        std::vector<std::wstring> files;
        for (const PluginDouble::Entry& entry : plugin.calls(call))
            files.push_back(entry.file);
        return files;
    }
    size_t invalidations(const std::wstring& productId) const
    {
        return hostLines(1, L"Kest::AlertPluginLib::setState",
                         L"Changing state of plugin for " + productId + L" to INVALIDATED.");
    }

    TestSupport::TelemetryServerFixture telemetry;
    DefaultPluginKey key;
    TestSupport::ScratchFolder defaultFolder;
    std::unique_ptr<PluginRegistrar> registrar = std::make_unique<PluginRegistrar>(settings);
};

// Another participant's view of the settings service's deletion notices.
class DeletionWatch {
public:
    DeletionWatch()
    {
        m_settings.subscribePropertyDeleteByPrefix([this](const std::wstring&) { m_seen.increment(); },
                                                   AlertPluginLib::kProductKeyPrefix);
    }
    ~DeletionWatch() { m_settings.unsubscribePropertyDeleteByPrefix(AlertPluginLib::kProductKeyPrefix); }
    bool waitFor(int count) { return m_seen.waitFor(count, TestSupport::kGenerousWait); }

private:
    TestSupport::WaitableCounter m_seen;
    Ostrand::SettingsManagerClient m_settings{std::make_shared<Ostrand::MessageBusClient>()};
};

TEST_F(PluginRegistrarTest, AProductsPluginIsLoadedOnceAndServesEveryLaterCall)
{
    registerPlugin(L"P", folder, L"productplugin.dll");
    EXPECT_EQ(MODULE_STATUS_SUCCESS, process(L"P"));
    std::wstring text;
    EXPECT_EQ(MODULE_STATUS_SUCCESS, content(L"P", text));
    EXPECT_EQ(L"content for Toast", text);
    EXPECT_EQ(MODULE_STATUS_SUCCESS, process(L"P"));

    EXPECT_EQ(1u, plugin.calls(L"CreateObject").size());
    EXPECT_EQ(1u, registrationReads(L"P"));
    EXPECT_EQ(2u, plugin.calls(L"ProcessAlert").size());
    EXPECT_TRUE(pluginFailedEvents().empty());

    registrar.reset();
    EXPECT_EQ(1u, plugin.calls(L"DestroyPluginInstance").size()) << "the cache goes with the registrar";
}

TEST_F(PluginRegistrarTest, AProductWithoutAPluginIsServedByTheDefaultPluginAndReportedAtEveryCall)
{
    installDefault();
    EXPECT_EQ(MODULE_STATUS_SUCCESS, process(L"A"));
    std::wstring text;
    EXPECT_EQ(MODULE_STATUS_SUCCESS, content(L"A", text));
    EXPECT_EQ(L"content for Toast", text);

    EXPECT_EQ(2u, registrationReads(L"A")) << "not cached: every call tries again";
    EXPECT_EQ(std::vector<std::wstring>{L"zorplugin.dll"}, filesOf(L"CreateObject")) << "the default loads once";
    EXPECT_EQ(std::vector<std::wstring>{L"zorplugin.dll"}, filesOf(L"ProcessAlert"));
    EXPECT_EQ(std::vector<std::wstring>{L"zorplugin.dll"}, filesOf(L"GetAlertContent"));

    const auto events = pluginFailedEvents();
    ASSERT_EQ(2u, events.size());
    for (Record event : events) {
        EXPECT_EQ(L"Kest", event[L"Event.Category"]);
        EXPECT_EQ(L"SR failed to load Plugin", event[L"Event.Action"]);
        EXPECT_EQ(L"false", event[L"Interactive"]);
        EXPECT_EQ(L"false", event[L"UserInitiated"]);
        EXPECT_EQ(L"Sentrel", event[L"Sub.Category"]);
        EXPECT_EQ(L"Plugin", event[L"Tertiary.Category"]);
        EXPECT_EQ(L"A", event[L"Event.Label"]);
        EXPECT_EQ(L"2147483651", event[L"Hit.Result"]);
        EXPECT_EQ(0u, event.count(L"Hit.GUID"));
    }
}

TEST_F(PluginRegistrarTest, WhenTheDefaultPluginFailsTooNoPluginCanBeHad)
{
    key.setFolder(defaultFolder.path()); // holds no plugin
    EXPECT_EQ(MODULE_STATUS_BUFFER_TOO_SMALL, process(L"A"));
    auto events = pluginFailedEvents();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(L"A", events[0][L"Event.Label"]);
    EXPECT_EQ(L"2147483651", events[0][L"Hit.Result"]);
    EXPECT_EQ(L"DEFAULT", events[1][L"Event.Label"]);
    EXPECT_EQ(L"2147483649", events[1][L"Hit.Result"]);

    // Asked for the default product itself: one attempt and one event.
    std::wstring text = L"before";
    EXPECT_EQ(MODULE_STATUS_BUFFER_TOO_SMALL, content(AlertPluginLib::kDefaultProduct, text));
    EXPECT_EQ(L"before", text);
    events = pluginFailedEvents();
    ASSERT_EQ(3u, events.size());
    EXPECT_EQ(L"DEFAULT", events[2][L"Event.Label"]);
    EXPECT_EQ(2u, hostLines(1, L"Kest::AlertPluginLib::load", L"Loading default plugin Name: zorplugin.dll"));
    EXPECT_TRUE(plugin.journal().empty());
}

TEST_F(PluginRegistrarTest, ProductIdsThatDifferInCaseAreTwoPlugins)
{
    TestSupport::ScratchFolder other;
    registerPlugin(L"Prod", folder, L"upperplugin.dll");
    registerPlugin(L"prod", other, L"lowerplugin.dll");
    EXPECT_EQ(MODULE_STATUS_SUCCESS, process(L"Prod"));
    EXPECT_EQ(MODULE_STATUS_SUCCESS, process(L"prod"));
    EXPECT_EQ(MODULE_STATUS_SUCCESS, process(L"Prod"));
    const std::vector<std::wstring> loaded = {L"upperplugin.dll", L"lowerplugin.dll"};
    EXPECT_EQ(loaded, filesOf(L"CreateObject"));
    const std::vector<std::wstring> served = {L"upperplugin.dll", L"lowerplugin.dll", L"upperplugin.dll"};
    EXPECT_EQ(served, filesOf(L"ProcessAlert"));
}

TEST_F(PluginRegistrarTest, ADeletedRegistrationMakesTheNextCallLoadWhatIsRegisteredThen)
{
    TestSupport::ScratchFolder second;
    const std::wstring productKey = AlertPluginLib::productKey(L"P");
    DeletionWatch watch;
    registrar->start();
    registerPlugin(L"P", folder, L"firstplugin.dll");
    ASSERT_EQ(MODULE_STATUS_SUCCESS, process(L"P"));

    // A changed value without a deletion changes nothing.
    PluginDouble::Control::install(second.path(), L"secondplugin.dll");
    ASSERT_TRUE(settings->setProperty(productKey, registration(second.path(), L"secondplugin.dll"), kTimeout));
    ASSERT_EQ(MODULE_STATUS_SUCCESS, process(L"P"));
    EXPECT_EQ(std::vector<std::wstring>{L"firstplugin.dll"}, filesOf(L"CreateObject"));

    // A deleted key of a product not cached touches nothing.
    ASSERT_TRUE(settings->setProperty(AlertPluginLib::productKey(L"Q"), L"{}", kTimeout));
    ASSERT_TRUE(settings->removeProperty(AlertPluginLib::productKey(L"Q"), kTimeout));
    ASSERT_TRUE(watch.waitFor(1));

    ASSERT_TRUE(settings->removeProperty(productKey, kTimeout));
    ASSERT_TRUE(waitForHostLine(1, L"Changing state of plugin for P to INVALIDATED."));
    EXPECT_EQ(0u, invalidations(L"Q"));

    // Gone by the time of the call: the load's code, and no default plugin.
    installDefault();
    EXPECT_EQ(MODULE_STATUS_BUFFER_TOO_SMALL, process(L"P"));
    EXPECT_EQ(MODULE_STATUS_BUFFER_TOO_SMALL, process(L"P"));
    EXPECT_TRUE(pluginFailedEvents().empty());
    EXPECT_EQ(0u, hostLines(1, L"", L"Loading default plugin"));

    ASSERT_TRUE(settings->setProperty(productKey, registration(second.path(), L"secondplugin.dll"), kTimeout));
    ASSERT_EQ(MODULE_STATUS_SUCCESS, process(L"P"));
    const std::vector<std::wstring> loaded = {L"firstplugin.dll", L"secondplugin.dll"};
    EXPECT_EQ(loaded, filesOf(L"CreateObject"));
    EXPECT_EQ(L"secondplugin.dll", filesOf(L"ProcessAlert").back());
    EXPECT_EQ(std::vector<std::wstring>{L"firstplugin.dll"}, filesOf(L"DestroyPluginInstance"));
}

TEST_F(PluginRegistrarTest, AfterStopDeletionsAreNoLongerFollowed)
{
    DeletionWatch watch;
    registrar->start();
    registerPlugin(L"P", folder, L"productplugin.dll");
    ASSERT_EQ(MODULE_STATUS_SUCCESS, process(L"P"));
    registrar->stop();
    ASSERT_TRUE(settings->removeProperty(AlertPluginLib::productKey(L"P"), kTimeout));
    ASSERT_TRUE(watch.waitFor(1));
    EXPECT_EQ(MODULE_STATUS_SUCCESS, process(L"P"));
    EXPECT_EQ(0u, invalidations(L"P"));
    EXPECT_EQ(1u, plugin.calls(L"CreateObject").size());
}

// A registrar that goes while its subscription lives on in a shared bus
// client must not be reached by a later notice.
TEST_F(PluginRegistrarTest, ANoticeAfterTheRegistrarWentReachesNothing)
{
    DeletionWatch watch;
    registerPlugin(L"P", folder, L"productplugin.dll");
    registrar->start();
    ASSERT_EQ(MODULE_STATUS_SUCCESS, process(L"P"));
    registrar.reset();
    ASSERT_TRUE(settings->removeProperty(AlertPluginLib::productKey(L"P"), kTimeout));
    ASSERT_TRUE(watch.waitFor(1));
    EXPECT_EQ(0u, invalidations(L"P"));
}

// A slow plugin call holds up every other plugin call, whatever the product,
// and every invalidation, until it returns.
TEST_F(PluginRegistrarTest, OnePluginCallRunsAtATime)
{
    TestSupport::ScratchFolder other;
    DeletionWatch watch;
    registerPlugin(L"A", folder, L"aplugin.dll");
    registerPlugin(L"B", other, L"bplugin.dll");
    registrar->start();
    ASSERT_EQ(MODULE_STATUS_SUCCESS, process(L"A"));
    std::wstring text;
    ASSERT_EQ(MODULE_STATUS_SUCCESS, content(L"B", text));

    plugin.hold();
    MODULE_STATUS first = 1, second = 1;
    std::thread slow([&] { first = process(L"A"); });
    ASSERT_TRUE(plugin.waitEntered(TestSupport::kGenerousWait));
    std::wstring secondText;
    std::thread waiting([&] { second = content(L"B", secondText); });
    ASSERT_TRUE(settings->removeProperty(AlertPluginLib::productKey(L"A"), kTimeout));
    ASSERT_TRUE(watch.waitFor(1));

    // Given time to get in, neither the other call nor the invalidation did.
    EXPECT_FALSE(plugin.waitEntered(300ms));
    EXPECT_EQ(0u, invalidations(L"A"));

    plugin.release();
    slow.join();
    waiting.join();
    EXPECT_EQ(MODULE_STATUS_SUCCESS, first);
    EXPECT_EQ(MODULE_STATUS_SUCCESS, second);
    EXPECT_TRUE(waitForHostLine(1, L"Changing state of plugin for A to INVALIDATED."));

    const std::vector<std::wstring> order = {L"ProcessAlert",    L"ProcessAlert.end",    L"GetAlertContent",
                                             L"GetAlertContent.end", L"ProcessAlert",    L"ProcessAlert.end",
                                             L"GetAlertContent", L"GetAlertContent.end"};
    EXPECT_EQ(order, plugin.sequence({L"ProcessAlert", L"ProcessAlert.end", L"GetAlertContent",
                                      L"GetAlertContent.end"}));
}

} // namespace
