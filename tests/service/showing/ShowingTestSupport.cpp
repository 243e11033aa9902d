#include "ShowingTestSupport.h"

namespace ShowingTest {

void ShowingFixture::SetUp()
{
    ASSERT_TRUE(log.ready());
    // Requests keep their real time; a silent viewer's time out soon.
    control().reset();
}

std::vector<BusDouble::JournalEntry> ShowingFixture::journal(BusDouble::Call call, const std::wstring& name)
{
    std::vector<BusDouble::JournalEntry> entries;
    BusDouble::JournalEntry entry{};
    for (uint32_t i = 0; control().journalEntry(i, &entry); ++i) {
        if (entry.call == call && (name.empty() || name == entry.name))
            entries.push_back(entry);
    }
    return entries;
}

std::vector<Record> ShowingFixture::events(const std::wstring& id) const
{
    return telemetry.events(id);
}

Kest::AlertInfo makeInfo(const std::wstring& alertId, const std::wstring& instanceId, uint32_t sessionId,
                         int32_t priority)
{
    Kest::AlertInfo info;
    info.alertId = alertId;
    info.instanceId = instanceId;
    info.sessionId = sessionId;
    info.priority = priority;
    info.product = L"prod";
    return info;
}

std::wstring makeContext(const std::wstring& title, const std::wstring& defaultContent,
                         const std::wstring& detailsContent, const std::vector<std::wstring>& actionTexts)
{
    std::wstring actions;
    for (size_t i = 0; i < actionTexts.size(); ++i) {
        if (i > 0)
            actions += L",";
        actions += L"{\"id\":\"a" + std::to_wstring(i) + L"\",\"text\":\"" + actionTexts[i] +
                   L"\",\"defaultmessage\":{}}";
    }
    return L"{\"title\":\"" + title + L"\",\"defaultcontent\":\"" + defaultContent + L"\",\"detailscontent\":\"" +
           detailsContent + L"\",\"actions\":[" + actions + L"]}";
}

} // namespace ShowingTest
