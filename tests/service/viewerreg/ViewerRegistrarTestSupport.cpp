#include "ViewerRegistrarTestSupport.h"

#include <algorithm>
#include <iostream>

namespace ViewerRegTest {

namespace {

const wchar_t kSource[] = L"ViewerRegistrar";
// The registrar's notices and nothing else of the viewers' traffic.
const wchar_t kNoticePattern[] = L"Sentrel\\.Viewer\\..*\\.(Registered|Unregistered)";
// How long stragglers get once the expected notices are in.
const std::chrono::milliseconds kStragglers(150);

} // namespace

void RegistrarFixture::SetUp()
{
    ASSERT_TRUE(log.ready());
    control().reset();
    ASSERT_NE(0u, watcher.subscribeFilter(kNoticePattern));
}

void RegistrarFixture::TearDown()
{
    if (!HasFailure())
        return;
    for (const auto& line : log.lines())
        std::wcerr << line.level << L" " << line.function << L": " << line.text << L"\n";
}

bool RegistrarFixture::logged(uint32_t level, const std::wstring& function, const std::wstring& text) const
{
    return lineCount(level, function, text) > 0;
}

size_t RegistrarFixture::lineCount(uint32_t level, const std::wstring& function, const std::wstring& text) const
{
    return log.find({level, kSource, L"Kest::ViewerRegistrar::" + function, text}).size();
}

size_t RegistrarFixture::exactLines(uint32_t level, const std::wstring& function, const std::wstring& text) const
{
    const auto found = log.find({level, kSource, L"Kest::ViewerRegistrar::" + function, text});
    return std::count_if(found.begin(), found.end(),
                         [&text](const TestSupport::LogLine& line) { return line.text == text; });
}

std::vector<BusDouble::RawBusPeer::Delivery> RegistrarFixture::notices(size_t count)
{
    BusDouble::RawBusPeer::Delivery delivery;
    while (m_notices.size() < count && watcher.waitForDelivery(delivery))
        m_notices.push_back(delivery);
    while (watcher.waitForDelivery(delivery, kStragglers))
        m_notices.push_back(delivery);
    auto sorted = m_notices;
    std::sort(sorted.begin(), sorted.end(),
              [](const BusDouble::RawBusPeer::Delivery& a, const BusDouble::RawBusPeer::Delivery& b) {
                  return a.name < b.name;
              });
    return sorted;
}

std::vector<std::wstring> RegistrarFixture::noticeNames(size_t count)
{
    std::vector<std::wstring> names;
    for (const auto& delivery : notices(count))
        names.push_back(delivery.name);
    return names;
}

size_t RegistrarFixture::deliveries(const std::wstring& name)
{
    size_t count = 0;
    BusDouble::JournalEntry entry{};
    for (uint32_t i = 0; control().journalEntry(i, &entry); ++i) {
        if (entry.call == BusDouble::Call::DeliverMessage && name == entry.name)
            ++count;
    }
    return count;
}

void RegistrarFixture::registerKey(const std::wstring& key)
{
    ASSERT_TRUE(m_tool->setProperty(key, std::wstring(L"{}"), kTimeout)) << key;
}

void RegistrarFixture::unregisterKey(const std::wstring& key)
{
    ASSERT_TRUE(m_tool->removeProperty(key, kTimeout)) << key;
}

std::vector<std::shared_ptr<Ostrand::Message>> FailingBus::published()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_published;
}

std::vector<std::wstring> FailingBus::unsubscribed()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_unsubscribed;
}

MODULE_STATUS FailingBus::publish(const std::shared_ptr<Ostrand::Message> message)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_published.push_back(message);
    return MODULE_STATUS_NO_SUBSCRIBERS;
}

MODULE_STATUS FailingBus::unsubscribe(const std::wstring& alias)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_unsubscribed.push_back(alias);
    return MODULE_STATUS_SUCCESS;
}

} // namespace ViewerRegTest
