#include "AlertClient.h"

#include "ConsoleLine.h"

#include <cwchar>

namespace ProductProgram {

namespace {

// Generous: a request waits behind whatever the service's executor is doing.
const uint64_t kRequestTimeoutMs = 60000;

bool endsWith(const std::wstring& text, const std::wstring& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool isShown(const std::wstring& name)
{
    return name.find(L".Shown.") != std::wstring::npos;
}

bool isOutcome(const std::wstring& name)
{
    return name.find(L".Dismissed.") != std::wstring::npos || name.find(L".Failed.") != std::wstring::npos;
}

} // namespace

AlertClient::AlertClient()
{
    m_bus.setResponder([this](BusDouble::RawBusPeer&, const BusDouble::RawBusPeer::Delivery& delivery) {
        onNotice(delivery);
    });
    m_bus.subscribeFilter(L"Sentrel\\.Alert\\..+");
}

std::wstring AlertClient::stamp() const
{
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_began).count();
    wchar_t text[32];
    std::swprintf(text, 32, L"[%7.3f s] ", seconds);
    return text;
}

void AlertClient::onNotice(const BusDouble::RawBusPeer::Delivery& delivery)
{
    // Replies also travel as plain messages; only the notices are news here.
    if (!isShown(delivery.name) && !isOutcome(delivery.name))
        return;
    PeerProgram::say(L"product: " + stamp() + L"notice " + delivery.name);
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_notices.push_back(delivery.name);
    }
    m_changed.notify_all();
}

AlertClient::Reply AlertClient::ask(const std::wstring& name, const std::wstring& payload, const std::wstring& about)
{
    const auto sent = std::chrono::steady_clock::now();
    const uint64_t index = m_nextReply++;
    Reply reply;
    const uint32_t status = m_bus.request(name, payload, kRequestTimeoutMs, index);
    BusDouble::RawBusPeer::Answer answer;
    if (status == MODULE_STATUS_SUCCESS &&
        m_bus.waitForAnswer(answer, std::chrono::milliseconds(kRequestTimeoutMs + 5000)) &&
        answer.replyIndex == index && answer.status == MODULE_STATUS_SUCCESS) {
        reply = {true, answer.reply.name, answer.reply.payload};
    }
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent).count();
    wchar_t statusText[16];
    std::swprintf(statusText, 16, L"0x%08X", reply.answered ? 0u : (status ? status : answer.status));
    PeerProgram::say(L"product: " + stamp() + name + (about.empty() ? L"" : L" for " + about) + L" -> " +
                     (reply.answered ? reply.name + (reply.payload.empty() ? L"" : L" \"" + reply.payload + L"\"")
                                     : L"no answer (" + std::wstring(statusText) + L")") +
                     L"  (took " + std::to_wstring(took) + L" ms)");
    return reply;
}

std::wstring AlertClient::newInstance()
{
    const Reply reply = ask(L"Sentrel.Alert.GetId", L"");
    return reply.answered ? reply.payload : std::wstring();
}

AlertClient::Reply AlertClient::show(const std::wstring& instanceId, const std::wstring& payload)
{
    return ask(L"Sentrel.Alert.Show." + instanceId, payload);
}

AlertClient::Reply AlertClient::remove(const std::wstring& instanceId, const std::wstring& alertId,
                                      const std::wstring& payload)
{
    return ask(L"Sentrel.Alert.Delete." + instanceId, payload, alertId);
}

AlertClient::Reply AlertClient::queueStatus()
{
    return ask(L"Sentrel.Queue.GetStatus", L"");
}

std::vector<std::wstring> AlertClient::outcomes()
{
    std::vector<std::wstring> found;
    std::lock_guard<std::mutex> hold(m_lock);
    for (const std::wstring& name : m_notices) {
        if (isOutcome(name))
            found.push_back(name);
    }
    return found;
}

std::wstring AlertClient::waitForNotice(const std::wstring& instanceId, bool outcome, std::chrono::seconds limit)
{
    const std::wstring end = L"." + instanceId;
    std::wstring found;
    std::unique_lock<std::mutex> hold(m_lock);
    m_changed.wait_for(hold, limit, [&]() {
        for (const std::wstring& name : m_notices) {
            if (endsWith(name, end) && (outcome ? isOutcome(name) : isShown(name))) {
                found = name;
                return true;
            }
        }
        return false;
    });
    return found;
}

std::wstring AlertClient::waitForShown(const std::wstring& instanceId, std::chrono::seconds limit)
{
    return waitForNotice(instanceId, false, limit);
}

std::wstring AlertClient::waitForOutcome(const std::wstring& instanceId, std::chrono::seconds limit)
{
    return waitForNotice(instanceId, true, limit);
}

} // namespace ProductProgram
