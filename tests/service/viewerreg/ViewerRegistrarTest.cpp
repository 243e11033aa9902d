// The registrar following the viewer registrations of a settings service.
#include "ViewerRegistrarTestSupport.h"

#include "ViewerDouble.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using ETWLogging::LOG_LEVEL_ERROR;
using ETWLogging::LOG_LEVEL_INFORMATION;
using ETWLogging::LOG_LEVEL_NORMAL;
using ViewerRegTest::RegistrarFixture;
using Names = std::vector<std::wstring>;

std::wstring registered(const std::wstring& id)
{
    return L"Sentrel.Viewer." + id + L".Registered";
}

std::wstring unregistered(const std::wstring& id)
{
    return L"Sentrel.Viewer." + id + L".Unregistered";
}

// Notices may overtake each other on the bus: they are compared sorted.
Names sorted(Names names)
{
    std::sort(names.begin(), names.end());
    return names;
}

using ViewerRegistrarTest = RegistrarFixture;

TEST_F(ViewerRegistrarTest, StartLoadsEveryRegisteredViewerAndAnnouncesIt)
{
    // Ten of them: the count is logged in hexadecimal.
    Names ids, expected;
    for (int i = 0; i < 10; ++i) {
        ids.push_back(L"viewer" + std::to_wstring(i));
        service.seed(L"Sentrel/Viewer/" + ids.back(), L"{}");
        expected.push_back(registered(ids.back()));
    }
    service.seed(L"Sentrel/Product/prod", L"{\"pluginPath\":\"x\",\"pluginFile\":\"y.dll\"}");

    registrar->start();
    const auto seen = notices(10);
    Names names;
    for (const auto& notice : seen) {
        names.push_back(notice.name);
        EXPECT_EQ(L"Sentrel", notice.source);
        EXPECT_EQ(L"", notice.payload);
    }
    EXPECT_EQ(expected, names);
    for (const auto& id : ids) {
        const auto viewer = registrar->getViewer(id);
        ASSERT_TRUE(viewer) << id;
        EXPECT_EQ(id, viewer->getName());
        EXPECT_TRUE(logged(LOG_LEVEL_INFORMATION, L"loadViewers", L"Adding Viewer to list: Sentrel/Viewer/" + id));
        EXPECT_TRUE(logged(LOG_LEVEL_INFORMATION, L"addViewer", L"Viewer registered: " + id));
    }
    EXPECT_FALSE(registrar->getViewer(L"prod"));
    EXPECT_FALSE(registrar->getViewer(L"Viewer1")) << "ids are compared exactly";
    EXPECT_TRUE(logged(LOG_LEVEL_INFORMATION, L"loadViewers", L"Retrieved viewers from SM: a"));

    EXPECT_EQ(1u, queries());
    size_t settingsRequests = 0;
    BusDouble::JournalEntry entry{};
    for (uint32_t i = 0; control().journalEntry(i, &entry); ++i) {
        if (std::wstring(entry.name) == SettingsPeer::SettingsService::kGetProperties &&
            (entry.call == BusDouble::Call::Request || entry.call == BusDouble::Call::RequestEx)) {
            ++settingsRequests;
            EXPECT_EQ(30000u, entry.timeoutMs);
        }
    }
    EXPECT_EQ(1u, settingsRequests);
}

TEST_F(ViewerRegistrarTest, FollowsRegistrationsAndRemovalsAfterStart)
{
    const std::wstring id = L"com.suite.toast";
    const std::wstring key = L"Sentrel/Viewer/" + id;
    registrar->start();
    registrar->start(); // follows each change once all the same
    registerKey(key);
    ASSERT_EQ(Names{registered(id)}, noticeNames(1));
    const auto first = registrar->getViewer(id);
    ASSERT_TRUE(first);
    EXPECT_EQ(id, first->getName());

    // Registered again: the proxy that alerts may hold stays, the notice goes out again.
    registerKey(key);
    EXPECT_EQ((Names{registered(id), registered(id)}), noticeNames(2));
    EXPECT_EQ(first, registrar->getViewer(id));
    EXPECT_EQ(2u, lineCount(LOG_LEVEL_INFORMATION, L"addViewer", L"Viewer registered: " + id));

    // A registration of another kind is none of the registrar's business.
    registerKey(L"Sentrel/Product/prod");
    unregisterKey(key);
    EXPECT_EQ((Names{registered(id), registered(id), unregistered(id)}), noticeNames(3));
    EXPECT_TRUE(logged(LOG_LEVEL_NORMAL, L"removeViewer", L"Viewer unregistered: " + id));
    EXPECT_FALSE(registrar->getViewer(id));
    EXPECT_EQ(id, first->getName()) << "a removed viewer's proxy lives on with its holders";

    // Removing what was never registered still announces it: the registration tool waits for that.
    registerKey(L"Sentrel/Viewer/kept");
    registrar->removeViewer(L"Sentrel/Viewer/ghost");
    EXPECT_EQ(sorted({registered(id), registered(id), unregistered(id), unregistered(L"ghost"), registered(L"kept")}),
              noticeNames(5));
    EXPECT_TRUE(logged(LOG_LEVEL_NORMAL, L"removeViewer", L"Viewer unregistered: ghost"));
    EXPECT_TRUE(registrar->getViewer(L"kept"));
}

TEST_F(ViewerRegistrarTest, OnlyKeysUnderTheViewerPrefixNameAViewer)
{
    const struct {
        const wchar_t* key;
        const wchar_t* id; // null: no viewer
    } cases[] = {
        {L"Sentrel/Viewer/a.b", L"a.b"},
        {L"Sentrel/Viewer/", L""}, // what the registration tool writes for an empty id
        {L"Sentrel/Viewer/x/y", L"x/y"},
        {L"sentrel/viewer/x", nullptr},
        {L"Sentrel/viewer/x", nullptr},
        {L"Sentrel/Viewers/x", nullptr},
        {L"Sentrel/Viewer", nullptr},
        {L"Sentrel/Product/p", nullptr},
    };
    Names expected;
    for (const auto& c : cases) {
        std::wstring id = L"untouched";
        EXPECT_EQ(c.id != nullptr, Kest::ViewerRegistrar::parseViewerId(c.key, id)) << c.key;
        EXPECT_EQ(c.id ? c.id : L"untouched", id) << c.key;
        registrar->addViewer(c.key);
        if (c.id) {
            expected.push_back(registered(c.id));
            const auto viewer = registrar->getViewer(c.id);
            ASSERT_TRUE(viewer) << c.key;
            EXPECT_EQ(c.id, viewer->getName());
        } else {
            EXPECT_EQ(1u, exactLines(LOG_LEVEL_ERROR, L"addViewer",
                                     std::wstring(L"Failed to parse viewer id. Unable to add viewer. Key: ") + c.key))
                << c.key;
        }
    }
    EXPECT_EQ(sorted(expected), noticeNames(expected.size()));
    EXPECT_EQ(L"Sentrel.Viewer..Registered", registered(L"")) << "nothing between the two dots";

    for (const auto& c : cases) {
        registrar->removeViewer(c.key);
        if (c.id) {
            expected.push_back(unregistered(c.id));
        } else {
            EXPECT_EQ(1u, exactLines(LOG_LEVEL_ERROR, L"removeViewer",
                                     std::wstring(L"Failed to parse viewer id. Unable to remove viewer. Key: ") + c.key))
                << c.key;
        }
    }
    EXPECT_EQ(sorted(expected), noticeNames(expected.size()));
    EXPECT_FALSE(registrar->getViewer(L"a.b"));
}

TEST_F(ViewerRegistrarTest, GetViewerReloadsOnlyAnEmptyList)
{
    service.seed(L"Sentrel/Viewer/early", L"{}");
    // Never started: the first lookup fills the list.
    EXPECT_TRUE(registrar->getViewer(L"early"));
    EXPECT_EQ(1u, queries());
    EXPECT_EQ(1u, lineCount(ETWLogging::LOG_LEVEL_WARNING, L"getViewer", L"Reloading the viewers from SettingManager"));

    EXPECT_FALSE(registrar->getViewer(L"unknown"));
    EXPECT_EQ(1u, queries()) << "a list with a viewer is not reloaded for an unknown id";

    registrar->removeViewer(L"Sentrel/Viewer/early");
    EXPECT_TRUE(registrar->getViewer(L"early")) << "an emptied list is filled again";
    EXPECT_EQ(2u, queries());
    EXPECT_EQ(2u, lineCount(ETWLogging::LOG_LEVEL_WARNING, L"getViewer", L"Reloading the viewers from SettingManager"));
}

TEST_F(ViewerRegistrarTest, StoppedOrGoneItNoLongerFollowsTheRegistrations)
{
    const std::wstring setNotice = L"SettingsManager.Notify.Set.Sentrel/Viewer/";
    const std::wstring deleteNotice = L"SettingsManager.Notify.Delete.Sentrel/Viewer/";
    registrar->start();
    registerKey(L"Sentrel/Viewer/kept");
    ASSERT_EQ(Names{registered(L"kept")}, noticeNames(1));
    ASSERT_EQ(1u, deliveries(setNotice + L"kept"));

    // No settings notice reaches it any more; those already out have had their time
    // once the stragglers of the viewer notices are in.
    registrar->stop();
    registerKey(L"Sentrel/Viewer/late");
    unregisterKey(L"Sentrel/Viewer/kept");
    EXPECT_EQ(Names{registered(L"kept")}, noticeNames(1));
    EXPECT_EQ(0u, deliveries(setNotice + L"late"));
    EXPECT_EQ(0u, deliveries(deleteNotice + L"kept"));
    EXPECT_TRUE(registrar->getViewer(L"kept")) << "stopping leaves the list as it is";
    EXPECT_FALSE(registrar->getViewer(L"late"));

    // Following again, then destroyed: nothing is left that calls into it.
    registrar->start();
    EXPECT_EQ((Names{registered(L"kept"), registered(L"late")}), noticeNames(2));
    registrar.reset();
    registerKey(L"Sentrel/Viewer/after");
    unregisterKey(L"Sentrel/Viewer/late");
    EXPECT_EQ(2u, noticeNames(2).size());
    EXPECT_EQ(0u, deliveries(setNotice + L"after"));
    EXPECT_EQ(0u, deliveries(deleteNotice + L"late"));
}

TEST_F(ViewerRegistrarTest, AViewerRegisteredThroughTheSettingsServiceIsReachedThroughItsProxy)
{
    ViewerDouble::Viewer viewer(L"com.suite.toast");
    registrar->start();
    registerKey(L"Sentrel/Viewer/com.suite.toast");
    ASSERT_EQ(Names{registered(L"com.suite.toast")}, noticeNames(1));

    const auto proxy = registrar->getViewer(L"com.suite.toast");
    ASSERT_TRUE(proxy);
    EXPECT_TRUE(proxy->show(L"{\"id\":\"{AB-12}\",\"instanceId\":\"7\"}", L"{AB-12}", L"7"));
    ASSERT_TRUE(viewer.waitForRequests(1));
    EXPECT_EQ(L"Sentrel.Viewer.com.suite.toast.Show.7", viewer.requests().front().name);
}

} // namespace
