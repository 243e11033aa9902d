#include "HostBus.h"

#include "BusDoubleControl.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace ModuleHost {

namespace {

const wchar_t kHostSource[] = L"ModuleHost";

const char* callName(BusDouble::Call call)
{
    static const char* const names[] = {
        "GetHandle",   "Release",         "Publish",     "PublishEx",           "Request",        "RequestEx",
        "Subscribe",   "SubscribeFilter", "Unsubscribe", "DetachReplyCallback", "DeliverMessage", "DeliverReply",
    };
    const auto index = static_cast<size_t>(call);
    return index < sizeof(names) / sizeof(names[0]) ? names[index] : "Unknown";
}

} // namespace

HostBus::HostBus(const FamilyLibrary& library)
{
    if (!library.ready())
        return;
    m_functions = static_cast<const MessageBusFunctions*>(library.createObject(MESSAGE_BUS_FUNCTIONS_VERSION));
    m_control = static_cast<BusDouble::BusDoubleControl*>(
        const_cast<void*>(library.createObject(BusDouble::kBusDoubleControlVersion)));
    if (!m_functions || !m_control || m_functions->getHandle(&m_handle) != MODULE_STATUS_SUCCESS) {
        m_handle = nullptr;
        return;
    }
    m_subscription = m_functions->subscribeFilter(m_handle, this, &HostBus::onMessage, L".*");
}

HostBus::~HostBus()
{
    if (!m_handle)
        return;
    if (m_subscription)
        m_functions->unsubscribe(m_handle, m_subscription);
    m_functions->detachReplyCallback(m_handle, &HostBus::onReply);
    m_functions->release(m_handle);
}

std::string HostBus::utf8(const std::wstring& text)
{
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(bytes), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &result[0], bytes, nullptr,
                            nullptr);
    return result;
}

MessageWireHeader HostBus::header(const std::wstring& name, const std::wstring& source, const std::wstring& payload,
                                  bool expectsReply)
{
    MessageWireHeader header;
    std::memset(&header, 0, sizeof(header));
    header.type = MESSAGE_HEADER_TYPE;
    header.version = MESSAGE_HEADER_VERSION_2;
    header.totalSize = static_cast<uint32_t>(MESSAGE_HEADER_SIZE_V2 + 2 * (name.size() + 1) +
                                             2 * (source.size() + 1) + 2 * (payload.size() + 1));
    header.flags = expectsReply ? (1u << MESSAGE_FLAG_EXPECTS_REPLY) : 0u;
    header.session.extensionType = MESSAGE_HEADER_SESSION_EXTENSION_TYPE;
    header.session.extensionLength = MESSAGE_HEADER_SESSION_EXTENSION_LENGTH;
    return header;
}

MODULE_STATUS HostBus::publish(const std::wstring& name, const std::wstring& payload)
{
    const MessageWireHeader sent = header(name, kHostSource, payload, false);
    return m_functions->publish(m_handle, &sent, name.c_str(), kHostSource, payload.c_str());
}

MODULE_STATUS HostBus::request(const std::wstring& name, const std::wstring& payload, std::chrono::milliseconds wait,
                               std::string& answer)
{
    uint64_t index = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        index = m_nextReplyIndex++;
    }
    const MessageWireHeader sent = header(name, kHostSource, payload, true);
    const MODULE_STATUS status =
        m_functions->request(m_handle, index, this, &HostBus::onReply, &sent, name.c_str(), kHostSource,
                             payload.c_str(), static_cast<uint64_t>(wait.count()));
    answer = "none";
    if (status != MODULE_STATUS_SUCCESS)
        return status;
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_changed.wait_for(lock, wait, [&] { return m_answers.count(index) != 0; }))
        answer = m_answers[index];
    return status;
}

bool HostBus::awaitMessage(const std::wstring& name, std::chrono::milliseconds wait, std::string& line)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        for (auto seen = m_seen.begin(); seen != m_seen.end(); ++seen) {
            if (seen->name == name) {
                line = seen->line;
                m_seen.erase(seen);
                return true;
            }
        }
        if (m_changed.wait_for(lock, wait) == std::cv_status::timeout) {
            line = "none";
            return false;
        }
    }
}

MODULE_STATUS HostBus::onMessage(void* context, const MessageWireHeader*, const wchar_t* name,
                                 const wchar_t* source, const wchar_t* payload)
{
    auto* bus = static_cast<HostBus*>(context);
    const std::string line = utf8(name) + " " + utf8(payload) + " source=" + utf8(source);
    {
        std::lock_guard<std::mutex> lock(bus->m_mutex);
        bus->m_seen.push_back(Seen{name, line});
    }
    bus->m_changed.notify_all();
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS HostBus::onReply(void* context, uint64_t replyIndex, const MessageWireHeader*, const wchar_t* name,
                               const wchar_t* source, const wchar_t* payload, uint32_t status)
{
    auto* bus = static_cast<HostBus*>(context);
    char failed[32];
    std::snprintf(failed, sizeof(failed), "failed 0x%08X", static_cast<unsigned>(status));
    const std::string line =
        status == MODULE_STATUS_SUCCESS ? utf8(name) + " " + utf8(payload) + " source=" + utf8(source) : failed;
    {
        std::lock_guard<std::mutex> lock(bus->m_mutex);
        bus->m_answers.emplace(replyIndex, line);
    }
    bus->m_changed.notify_all();
    return MODULE_STATUS_SUCCESS;
}

std::vector<std::string> HostBus::journal() const
{
    std::vector<std::string> lines;
    BusDouble::JournalEntry entry;
    for (uint32_t i = 0; m_control && m_control->journalEntry(i, &entry); ++i) {
        entry.name[sizeof(entry.name) / sizeof(entry.name[0]) - 1] = L'\0';
        std::string line = std::string("Bus ") + callName(entry.call);
        if (entry.name[0])
            line += " " + utf8(entry.name);
        lines.push_back(line);
    }
    return lines;
}

uint32_t HostBus::openConnections() const
{
    return m_control ? m_control->openConnections() : 0;
}

} // namespace ModuleHost
