// The registrar's list against the store when the settings notices arrive in
// another order than the changes were made (the bus delivers them on several
// threads at once), and when a change comes while the list is being read.
#include "ViewerRegistrarTestSupport.h"

#include "JsonText.h"
#include "TestNames.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using TestSupport::jsonText;
using ViewerRegTest::RegistrarFixture;
using Names = std::vector<std::wstring>;

const std::wstring kPrefix = L"Sentrel/Viewer/";
const wchar_t kSetHead[] = L"SettingsManager.Notify.Set.";
const wchar_t kDeleteHead[] = L"SettingsManager.Notify.Delete.";
// An answer held back until the test lets it go: far beyond any wait of the test.
const std::chrono::milliseconds kHeld(std::chrono::minutes(10));

class ViewerRegistrarNoticeOrder : public RegistrarFixture {
protected:
    // A notice as the settings service publishes it.
    void publishNotice(bool set, const std::wstring& key)
    {
        const std::wstring payload =
            L"{\"name\":" + jsonText(key) + (set ? L",\"value\":\"{}\"" : L"") + L"}";
        ASSERT_EQ(0u, settingsSide.publish((set ? kSetHead : kDeleteHead) + key, L"SettingsService", payload));
    }

    // How many settings notices of keys beginning with `keyStart` the bus
    // double has handed to a subscriber, and the subscriber returned.
    static size_t deliveredNotices(const std::wstring& keyStart)
    {
        size_t count = 0;
        BusDouble::JournalEntry entry{};
        for (uint32_t i = 0; control().journalEntry(i, &entry); ++i) {
            if (entry.call != BusDouble::Call::DeliverMessage)
                continue;
            const std::wstring name = entry.name;
            for (const wchar_t* head : {kSetHead, kDeleteHead}) {
                const std::wstring start = head + keyStart;
                if (name.compare(0, start.size(), start) == 0)
                    ++count;
            }
        }
        return count;
    }

    // The viewers among `ids` on whose registration the registrar and the store disagree.
    Names disagreements(const Names& ids)
    {
        Names wrong;
        for (const std::wstring& id : ids) {
            const bool stored = service.find(kPrefix + id).has_value();
            if (stored != static_cast<bool>(registrar->getViewer(id)))
                wrong.push_back(id + (stored ? L" (stored, not listed)" : L" (listed, not stored)"));
        }
        return wrong;
    }

    // Once every notice before it was handed over, a notice of one more
    // viewer; the registrar takes notices in the order they reached it, so
    // once it lists that viewer, it has taken all of them.
    void settle(const std::wstring& sentinel)
    {
        registerKey(kPrefix + sentinel);
        EXPECT_TRUE(TestSupport::waitUntil([&] { return static_cast<bool>(registrar->getViewer(sentinel)); }));
    }

    // A notice of `key` whose lookup the settings service holds until
    // releaseLateReplies; the answers after it leave at once. False when
    // the lookup never came.
    bool holdLookupOf(bool set, const std::wstring& key)
    {
        const size_t before = queries();
        peer.setReplyDelay(kHeld);
        publishNotice(set, key);
        const bool asked = TestSupport::waitUntil([&] { return queries() > before; });
        peer.setReplyDelay(std::chrono::milliseconds(0));
        return asked;
    }

    // Removes a key from the store without a notice.
    void dropUnannounced(const std::wstring& key)
    {
        service.handle(SettingsPeer::SettingsService::kRemoveProperties,
                       L"{\"properties\":[{\"name\":" + jsonText(key) + L"}]}");
    }

    BusDouble::RawBusPeer settingsSide;
};

TEST_F(ViewerRegistrarNoticeOrder, ANoticeThatOvertookTheOtherChangesNothingTheStoreDoesNotHold)
{
    const struct {
        const wchar_t* name;
        bool stored;     // the store after both changes
        bool firstIsSet; // the notice that reaches the registrar first
    } cases[] = {
        // Registered then unregistered: the removal's notice comes first.
        {L"gone", false, false},
        // Unregistered then registered again (a viewer restarting): the registration's notice comes first.
        {L"back", true, true},
    };
    service.seed(kPrefix + L"kept", L"{}");
    registrar->start();
    size_t expectedNotices = 1;
    ASSERT_EQ(expectedNotices, noticeNames(expectedNotices).size());
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << TestSupport::narrow(c.name));
        const std::wstring key = kPrefix + c.name;
        if (c.stored)
            service.seed(key, L"{}");
        publishNotice(c.firstIsSet, key);
        ++expectedNotices;
        ASSERT_EQ(expectedNotices, noticeNames(expectedNotices).size());
        publishNotice(!c.firstIsSet, key);
        ++expectedNotices;
        ASSERT_EQ(expectedNotices, noticeNames(expectedNotices).size());
        EXPECT_EQ(c.stored, static_cast<bool>(registrar->getViewer(c.name)));
    }
    EXPECT_TRUE(registrar->getViewer(L"kept"));
}

TEST_F(ViewerRegistrarNoticeOrder, ManyPairsOfChangesAtOnceEndWithTheListEqualToTheStore)
{
    const struct {
        const char* name;
        bool registeredFirst; // register then unregister, or the other way round (a restart)
    } cases[] = {{"register-unregister", true}, {"unregister-register", false}};
    const size_t kPairs = 500;
    const size_t kWriters = 4;
    service.seed(kPrefix + L"kept", L"{}");
    registrar->start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::wstring round = TestSupport::widen(c.name) + L"-";
        Names ids;
        for (size_t i = 0; i < kPairs; ++i) {
            ids.push_back(round + std::to_wstring(i));
            if (!c.registeredFirst)
                service.seed(kPrefix + ids.back(), L"{}");
        }
        std::atomic<size_t> next{0};
        std::vector<std::thread> writers;
        for (size_t w = 0; w < kWriters; ++w) {
            writers.emplace_back([&] {
                for (size_t i = next++; i < kPairs; i = next++) {
                    if (c.registeredFirst) {
                        registerKey(kPrefix + ids[i]);
                        unregisterKey(kPrefix + ids[i]);
                    } else {
                        unregisterKey(kPrefix + ids[i]);
                        registerKey(kPrefix + ids[i]);
                    }
                }
            });
        }
        for (std::thread& writer : writers)
            writer.join();
        ASSERT_TRUE(TestSupport::waitUntil([&] { return deliveredNotices(kPrefix + round) >= 2 * kPairs; }));
        settle(round + L"sentinel");
        const Names wrong = disagreements(ids);
        EXPECT_TRUE(wrong.empty()) << wrong.size() << " of " << kPairs << " disagree, the first "
                                   << TestSupport::narrow(wrong.front());
    }
    EXPECT_TRUE(registrar->getViewer(L"kept"));
}

TEST_F(ViewerRegistrarNoticeOrder, ARemovalWhileTheListIsReadIsNotUndoneByTheAnswer)
{
    service.seed(kPrefix + L"kept", L"{}");
    service.seed(kPrefix + L"leaving", L"{}");
    // The answer to the load is held until the removal has been made, looked
    // up and announced: the load's answer is then the oldest word on the key.
    peer.setReplyDelay(kHeld);
    std::thread starting([&] { registrar->start(); });
    const bool asked = TestSupport::waitUntil([&] { return queries() >= 1; });
    peer.setReplyDelay(std::chrono::milliseconds(0));
    bool removed = false;
    if (asked) {
        unregisterKey(kPrefix + L"leaving");
        removed = TestSupport::waitUntil(
            [&] { return deliveries(L"Sentrel.Viewer.leaving.Unregistered") >= 1; });
    }
    peer.releaseLateReplies();
    starting.join();
    ASSERT_TRUE(asked) << "the registrar never read the list";
    ASSERT_TRUE(removed) << "the removal was never announced";
    settle(L"sentinel");

    EXPECT_FALSE(service.find(kPrefix + L"leaving"));
    EXPECT_FALSE(registrar->getViewer(L"leaving"));
    EXPECT_TRUE(registrar->getViewer(L"kept"));
}

TEST_F(ViewerRegistrarNoticeOrder, NoticesThatComeDuringALookupShareTheNextOne)
{
    const size_t kKeys = 10;
    service.seed(kPrefix + L"kept", L"{}");
    registrar->start();
    const size_t before = queries();
    Names ids;
    for (size_t i = 0; i < kKeys; ++i) {
        ids.push_back(L"batch-" + std::to_wstring(i));
        service.seed(kPrefix + ids.back(), L"{}");
    }
    // The first notice's lookup is held until every other notice is in.
    const bool asked = holdLookupOf(true, kPrefix + ids.front());
    for (size_t i = 1; i < kKeys; ++i)
        publishNotice(true, kPrefix + ids[i]);
    const bool handedOver = TestSupport::waitUntil([&] { return deliveredNotices(kPrefix + L"batch-") >= kKeys; });
    peer.releaseLateReplies();
    ASSERT_TRUE(asked) << "the first notice was never looked up";
    ASSERT_TRUE(handedOver);

    EXPECT_TRUE(TestSupport::waitUntil([&] { return disagreements(ids).empty(); }));
    EXPECT_EQ(1 + kKeys, noticeNames(1 + kKeys).size());
    // The held lookup, then one for the nine that waited behind it.
    EXPECT_EQ(before + 2, queries());
}

TEST_F(ViewerRegistrarNoticeOrder, KeysWaitingAtStopAreLookedUpAfterTheNextStart)
{
    service.seed(kPrefix + L"kept", L"{}");
    service.seed(kPrefix + L"asked", L"{}");
    service.seed(kPrefix + L"waiting", L"{}");
    registrar->start();
    ASSERT_EQ(3u, noticeNames(3).size());
    // Both leave the store; the lookup of the first is held, the second waits behind it.
    for (const wchar_t* id : {L"asked", L"waiting"})
        dropUnannounced(kPrefix + id);
    const bool asked = holdLookupOf(false, kPrefix + L"asked");
    publishNotice(false, kPrefix + L"waiting");
    const bool handedOver = TestSupport::waitUntil([&] { return deliveredNotices(kPrefix + L"waiting") >= 1; });
    registrar->stop();
    peer.releaseLateReplies();
    ASSERT_TRUE(asked);
    ASSERT_TRUE(handedOver);

    registrar->start();
    settle(L"sentinel");
    EXPECT_TRUE(disagreements({L"kept", L"asked", L"waiting"}).empty());
}

TEST_F(ViewerRegistrarNoticeOrder, AnAnswerAskedForBeforeStopIsNotTakenAfterTheNextStart)
{
    service.seed(kPrefix + L"kept", L"{}");
    registrar->start();
    ASSERT_EQ(1u, noticeNames(1).size());
    service.seed(kPrefix + L"brief", L"{}");
    ASSERT_TRUE(holdLookupOf(true, kPrefix + L"brief"));
    registrar->stop();
    // Gone while nothing was heard; the held answer still says it is there.
    dropUnannounced(kPrefix + L"brief");
    registrar->start();
    peer.releaseLateReplies();

    settle(L"sentinel");
    EXPECT_TRUE(disagreements({L"kept", L"brief"}).empty());
}

TEST_F(ViewerRegistrarNoticeOrder, DestroyingTheRegistrarLeavesItsLookupBehind)
{
    service.seed(kPrefix + L"kept", L"{}");
    registrar->start();
    ASSERT_EQ(1u, noticeNames(1).size());
    service.seed(kPrefix + L"late", L"{}");
    ASSERT_TRUE(holdLookupOf(true, kPrefix + L"late"));

    registrar.reset();
    // Still unanswered: the registrar did not wait for the lookup's bound.
    EXPECT_TRUE(log.find({0, L"", L"", L"Property list request timed out"}).empty());
    peer.releaseLateReplies();
    // The lookup's thread lets go of the settings client, and with it the bus,
    // once the answer is in; the answer itself changes nothing.
    EXPECT_TRUE(TestSupport::waitUntil([&] { return bus.use_count() == 1; }));
    EXPECT_EQ(Names{L"Sentrel.Viewer.kept.Registered"}, noticeNames(1));
}

TEST_F(ViewerRegistrarNoticeOrder, ALoadedKeyTooLongForItsNoticesIsLogged)
{
    // The bus matches names of up to 1024 characters; the longer of the two
    // notices of a viewer key is the delete notice.
    const std::wstring head = kDeleteHead + kPrefix;
    const std::wstring longest(1024 - head.size(), L'x');
    const std::wstring tooLong(1025 - head.size(), L'y');
    service.seed(kPrefix + longest, L"{}");
    service.seed(kPrefix + tooLong, L"{}");
    registrar->start();
    EXPECT_EQ(2u, noticeNames(2).size());
    const std::wstring line = L"Viewer key " + kPrefix + tooLong + L" is too long for its change notices";
    EXPECT_EQ(1u, lineCount(ETWLogging::LOG_LEVEL_WARNING, L"loadViewers", line));
    EXPECT_EQ(0u, lineCount(ETWLogging::LOG_LEVEL_WARNING, L"loadViewers", L"Viewer key " + kPrefix + longest));
    // Listed all the same: the store holds it.
    EXPECT_TRUE(registrar->getViewer(tooLong));
}

} // namespace
