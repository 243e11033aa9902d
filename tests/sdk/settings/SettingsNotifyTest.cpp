// Change notices of the settings service reaching the client's callbacks.
#include "SettingsTestSupport.h"

#include "TestNames.h"
#include "WaitUntil.h"
#include "WaitableCounter.h"

#include <algorithm>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

using namespace std::chrono_literals;
using Ostrand::Message;
using Ostrand::SettingsManagerClient;
using SettingsTest::kTimeout;
using TestSupport::WaitableCounter;

namespace {

// What one callback received, in order.
class Received {
public:
    using Notice = std::pair<std::wstring, std::wstring>;

    Ostrand::SettingsManager::NameCallback names()
    {
        return [this](const std::wstring& name) { add(name, L""); };
    }
    Ostrand::SettingsManager::NameValueCallback namesAndValues()
    {
        return [this](const std::wstring& name, const std::wstring& value) { add(name, value); };
    }
    // Sorted: deliveries may overtake each other when the bus starts another delivery thread.
    std::vector<Notice> notices() const
    {
        std::lock_guard<std::mutex> guard(m_lock);
        std::vector<Notice> sorted = m_notices;
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }
    bool waitFor(int count) const { return m_count.waitFor(count, TestSupport::kGenerousWait); }

private:
    void add(const std::wstring& name, const std::wstring& value)
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_notices.emplace_back(name, value);
        }
        m_count.increment();
    }
    mutable std::mutex m_lock;
    std::vector<Notice> m_notices;
    WaitableCounter m_count;
};

using Notices = std::vector<Received::Notice>;

class SettingsNotices : public SettingsTest::SettingsFixture {
protected:
    // Every set notice, whatever its name: once it has seen n of them, the
    // notices published before were delivered too.
    void SetUp() override
    {
        SettingsFixture::SetUp();
        ASSERT_TRUE(settings->subscribePropertySet(everySet.names()));
    }
    void set(const std::wstring& name, const std::wstring& value)
    {
        ASSERT_TRUE(settings->setProperty(name, value, kTimeout));
        ++sets;
    }
    void waitForSets() { ASSERT_TRUE(everySet.waitFor(sets)); }

    Received everySet;
    int sets = 0;
};

} // namespace

TEST_F(SettingsNotices, ByNameNoticesReachOnlyTheirExactName)
{
    Received setA, removedA, everyRemoval;
    ASSERT_TRUE(settings->subscribePropertySet(setA.names(), L"a"));
    ASSERT_TRUE(settings->subscribePropertyRemoved(removedA.names(), L"a"));
    ASSERT_TRUE(settings->subscribePropertyRemoved(everyRemoval.names()));
    for (const wchar_t* name : {L"A", L"ab", L"a"})
        set(name, L"1");
    for (const wchar_t* name : {L"A", L"ab", L"a"})
        ASSERT_TRUE(settings->removeProperty(name, kTimeout));
    waitForSets();
    ASSERT_TRUE(everyRemoval.waitFor(3));
    ASSERT_TRUE(setA.waitFor(1));
    ASSERT_TRUE(removedA.waitFor(1));
    EXPECT_EQ((Notices{{L"A", L""}, {L"a", L""}, {L"ab", L""}}), everySet.notices());
    EXPECT_EQ((Notices{{L"a", L""}}), setA.notices());
    EXPECT_EQ((Notices{{L"a", L""}}), removedA.notices());
    EXPECT_EQ((Notices{{L"A", L""}, {L"a", L""}, {L"ab", L""}}), everyRemoval.notices());
}

TEST_F(SettingsNotices, PrefixNoticesCarryTheWholeNameAndTheValue)
{
    Received viewerSets, viewerDeletes;
    ASSERT_TRUE(settings->subscribePropertySetByPrefix(viewerSets.namesAndValues(), L"Sentrel/Viewer"));
    ASSERT_TRUE(settings->subscribePropertyDeleteByPrefix(viewerDeletes.names(), L"Sentrel/Viewer"));
    set(L"Sentrel/Viewer/abc", L"{}");
    set(L"Sentrel/Product/p", L"{\"pluginPath\":\"x\"}");
    ASSERT_TRUE(settings->removeProperty(L"Sentrel/Product/p", kTimeout));
    ASSERT_TRUE(settings->removeProperty(L"Sentrel/Viewer/abc", kTimeout));
    ASSERT_TRUE(viewerSets.waitFor(1));
    ASSERT_TRUE(viewerDeletes.waitFor(1));
    waitForSets();
    EXPECT_EQ((Notices{{L"Sentrel/Viewer/abc", L"{}"}}), viewerSets.notices());
    EXPECT_EQ((Notices{{L"Sentrel/Viewer/abc", L""}}), viewerDeletes.notices());

    // Unsubscribed, nothing more arrives: the marker set goes out after the viewer's.
    ASSERT_TRUE(settings->unsubscribePropertySetByPrefix(L"Sentrel/Viewer"));
    ASSERT_TRUE(settings->unsubscribePropertyDeleteByPrefix(L"Sentrel/Viewer"));
    set(L"Sentrel/Viewer/def", L"{}");
    ASSERT_TRUE(settings->removeProperty(L"Sentrel/Viewer/def", kTimeout));
    set(L"marker", L"1");
    waitForSets();
    EXPECT_EQ(1u, viewerSets.notices().size());
    EXPECT_EQ(1u, viewerDeletes.notices().size());
}

TEST_F(SettingsNotices, APrefixIsARegularExpressionAndItsSubscriptionsGoTogether)
{
    Received first, second;
    ASSERT_TRUE(settings->subscribePropertySetByPrefix(first.namesAndValues(), L"a.b"));
    ASSERT_TRUE(settings->subscribePropertySetByPrefix(second.namesAndValues(), L"a.b"));
    set(L"axb", L"1");
    set(L"a.b/c", L"2");
    set(L"xa.b", L"3");
    waitForSets();
    ASSERT_TRUE(first.waitFor(2));
    ASSERT_TRUE(second.waitFor(2));
    EXPECT_EQ((Notices{{L"a.b/c", L"2"}, {L"axb", L"1"}}), first.notices());

    ASSERT_TRUE(settings->unsubscribePropertySetByPrefix(L"a.b"));
    set(L"axb", L"4");
    waitForSets();
    EXPECT_EQ(2u, first.notices().size());
    EXPECT_EQ(2u, second.notices().size());

    EXPECT_TRUE(settings->unsubscribePropertySetByPrefix(L"never")) << "an unknown prefix is no failure";
    EXPECT_FALSE(settings->subscribePropertyDeleteByPrefix(first.names(), L"a(")) << "not an expression";
}

TEST_F(SettingsNotices, AnEmptyPrefixSubscribesNothing)
{
    Received nothing;
    const uint32_t before = control().journalSize();
    EXPECT_TRUE(settings->subscribePropertySetByPrefix(nothing.namesAndValues(), L""));
    EXPECT_TRUE(settings->subscribePropertyDeleteByPrefix(nothing.names(), L""));
    EXPECT_TRUE(settings->unsubscribePropertySetByPrefix(L""));
    EXPECT_TRUE(settings->unsubscribePropertyDeleteByPrefix(L""));
    EXPECT_EQ(before, control().journalSize()) << "the bus library was not called";
    set(L"x", L"1");
    ASSERT_TRUE(settings->removeProperty(L"x", kTimeout));
    waitForSets();
    EXPECT_TRUE(nothing.notices().empty());
}

TEST_F(SettingsNotices, TheServiceSwitchesItsNoticeFamiliesApart)
{
    Received perProperty, removals;
    ASSERT_TRUE(settings->subscribePropertyDeleteByPrefix(perProperty.names(), L"k"));
    ASSERT_TRUE(settings->subscribePropertyRemoved(removals.names()));
    service.setNotices(false, true);
    ASSERT_TRUE(settings->setProperty(L"k1", std::wstring(L"1"), kTimeout));
    ASSERT_TRUE(settings->removeProperty(L"k1", kTimeout));
    ASSERT_TRUE(perProperty.waitFor(1));
    service.setNotices(true, false);
    set(L"k2", L"1");
    ASSERT_TRUE(settings->removeProperty(L"k2", kTimeout));
    ASSERT_TRUE(removals.waitFor(1));
    waitForSets();
    EXPECT_EQ((Notices{{L"k2", L""}}), everySet.notices()) << "the first set went out per property only";
    EXPECT_EQ((Notices{{L"k1", L""}}), perProperty.notices());
    EXPECT_EQ((Notices{{L"k2", L""}}), removals.notices());
}

TEST_F(SettingsNotices, UnusableNoticesAreRefusedWithTheirLines)
{
    const std::wstring notify = L"Ostrand::SettingsManagerClient::onPropertyNotify";
    const std::wstring notifySet = L"Ostrand::SettingsManagerClient::onPropertyNotifySet";
    const std::wstring notifyDelete = L"Ostrand::SettingsManagerClient::onPropertyNotifyDelete";
    const std::wstring notParsed = L"Failed to parse setting property data.";
    const std::wstring noName = L"Failed to read setting property name.";
    enum Handler { Notify, NotifySet, NotifyDelete };
    const struct {
        Handler handler;
        const wchar_t* payload;
        uint32_t status;
        std::wstring function; // empty: no line
        std::wstring line;
        int calls;
    } cases[] = {
        {Notify, L"{\"name\":\"a\"}", 0, L"", L"", 1},
        {Notify, L"{\"name\":\"other\"}", 0, L"", L"", 0},
        {Notify, L"not JSON", MODULE_STATUS_DATA_ERROR, notify, notParsed, 0},
        {Notify, L"{\"name\":5}", MODULE_STATUS_DATA_ERROR, notify, noName, 0},
        {NotifySet, L"{\"name\":\"a\",\"value\":\"v\"}", 0, L"", L"", 1},
        {NotifySet, L"{\"name\":\"a\"}", MODULE_STATUS_DATA_ERROR, notifySet, L"Failed to read setting value.", 0},
        {NotifySet, L"[1]", MODULE_STATUS_DATA_ERROR, notifySet, notParsed, 0},
        {NotifySet, L"{}", MODULE_STATUS_DATA_ERROR, notifySet, noName, 0},
        {NotifyDelete, L"{\"name\":\"a\"}", 0, L"", L"", 1},
        {NotifyDelete, L"", MODULE_STATUS_DATA_ERROR, notifyDelete, notParsed, 0},
        {NotifyDelete, L"{\"value\":\"a\"}", MODULE_STATUS_DATA_ERROR, notifyDelete, noName, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(TestSupport::narrow(c.payload));
        const size_t before = c.function.empty() ? 0 : lines(2, c.function, c.line);
        const size_t all = clientLines();
        int calls = 0;
        const auto message = Message::create(L"SettingsManager.Notify.Set.a", L"s", c.payload);
        uint32_t status = 0;
        if (c.handler == Notify)
            status = SettingsManagerClient::onPropertyNotify(
                message, [&calls](const std::wstring&) { ++calls; },
                [](const std::wstring& name) { return name == L"a"; });
        else if (c.handler == NotifySet)
            status = SettingsManagerClient::onPropertyNotifySet(
                message, [&calls](const std::wstring&, const std::wstring&) { ++calls; });
        else
            status = SettingsManagerClient::onPropertyNotifyDelete(message, [&calls](const std::wstring&) { ++calls; });
        EXPECT_EQ(c.status, status);
        EXPECT_EQ(c.calls, calls);
        EXPECT_EQ(all + (c.function.empty() ? 0 : 1), clientLines());
        if (!c.function.empty()) {
            EXPECT_EQ(before + 1, lines(2, c.function, c.line));
        }
    }
    // Without a callback nothing is read at all.
    const auto garbage = Message::create(L"n", L"s", L"not JSON");
    EXPECT_EQ(0u, SettingsManagerClient::onPropertyNotify(garbage, nullptr, nullptr));
    EXPECT_EQ(0u, SettingsManagerClient::onPropertyNotifySet(garbage, nullptr));
    EXPECT_EQ(0u, SettingsManagerClient::onPropertyNotifyDelete(garbage, nullptr));
}

TEST_F(SettingsNotices, TheBusHearsTheHandlersStatus)
{
    Received deletes;
    ASSERT_TRUE(settings->subscribePropertyDeleteByPrefix(deletes.names(), L"p"));
    BusDouble::RawBusPeer other;
    ASSERT_EQ(0u, other.publish(L"SettingsManager.Notify.Delete.p1", L"other", L"{broken"));
    ASSERT_EQ(0u, other.publish(L"SettingsManager.Notify.Delete.p2", L"other", L"{\"name\":\"p2\"}"));
    ASSERT_TRUE(deletes.waitFor(1));
    // The double records a delivery once its callback has returned: wait for both records.
    std::multiset<uint32_t> statuses;
    TestSupport::waitUntil([&] {
        statuses.clear();
        BusDouble::JournalEntry entry{};
        for (uint32_t i = 0; control().journalEntry(i, &entry); ++i) {
            if (entry.call == BusDouble::Call::DeliverMessage &&
                std::wstring(entry.name).find(L"SettingsManager.Notify.Delete.") == 0)
                statuses.insert(entry.status);
        }
        return statuses.size() >= 2;
    });
    EXPECT_EQ((std::multiset<uint32_t>{0u, MODULE_STATUS_DATA_ERROR}), statuses);
    EXPECT_EQ((Notices{{L"p2", L""}}), deletes.notices());
}
