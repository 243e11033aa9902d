#include "BusTestSupport.h"

namespace BusTest {

std::vector<BusDouble::JournalEntry> BusFixture::journal(BusDouble::Call call)
{
    std::vector<BusDouble::JournalEntry> entries;
    BusDouble::JournalEntry entry{};
    for (uint32_t i = 0; control().journalEntry(i, &entry); ++i) {
        if (entry.call == call)
            entries.push_back(entry);
    }
    return entries;
}

uint32_t RecordingShim::publish(const std::shared_ptr<Ostrand::Message> message, bool ex)
{
    std::lock_guard<std::mutex> guard(m_lock);
    Call call{ex ? L"publishEx" : L"publish"};
    if (message) {
        call.flags = message->header()->flags;
        call.inReplyTo = message->header()->inReplyTo;
    }
    m_calls.push_back(call);
    if (publishStatuses.empty())
        return 0;
    const uint32_t status = publishStatuses.front();
    publishStatuses.erase(publishStatuses.begin());
    return status;
}

uint32_t RecordingShim::request(const std::shared_ptr<Ostrand::Message> message, uint64_t replyIndex,
                                ReplyFunction* function, uint64_t, bool ex)
{
    std::lock_guard<std::mutex> guard(m_lock);
    Call call{ex ? L"requestEx" : L"request"};
    call.replyIndex = replyIndex;
    m_calls.push_back(call);
    replyFunction = function;
    if (!message)
        return MODULE_STATUS_INVALID_PARAMETER;
    return requestStatus;
}

uint32_t RecordingShim::detachReplyCallback()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.push_back({L"detachReplyCallback"});
    return 0;
}

uint32_t RecordingShim::subscribe(const std::wstring& name, SubscriberFunction*)
{
    std::lock_guard<std::mutex> guard(m_lock);
    const uint32_t id = refuseSubscriptions ? 0 : m_nextId++;
    m_calls.push_back({L"subscribe " + name, id});
    return id;
}

uint32_t RecordingShim::subscribeFilter(const std::wstring& pattern, SubscriberFunction*)
{
    std::lock_guard<std::mutex> guard(m_lock);
    const uint32_t id = refuseSubscriptions ? 0 : m_nextId++;
    m_calls.push_back({L"subscribeFilter " + pattern, id});
    return id;
}

uint32_t RecordingShim::unsubscribe(uint32_t id)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_calls.push_back({L"unsubscribe", id});
    return 0;
}

std::vector<RecordingShim::Call> RecordingShim::calls()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_calls;
}

} // namespace BusTest
