#include "RawBusPeer.h"

#include <windows.h>

#include <cstring>
#include <stdexcept>

namespace BusDouble {

namespace {

using CreateObjectFunction = const void* (*)(uint32_t);

CreateObjectFunction createObject()
{
    static CreateObjectFunction function = []() -> CreateObjectFunction {
        wchar_t path[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return nullptr;
        std::wstring library(path, length);
        library = library.substr(0, library.find_last_of(L'\\') + 1) + L"Ondrel.dll";
        HMODULE module = LoadLibraryW(library.c_str());
        if (!module)
            return nullptr;
        return reinterpret_cast<CreateObjectFunction>(reinterpret_cast<void*>(GetProcAddress(module, "CreateObject")));
    }();
    if (!function)
        throw std::runtime_error("no bus library double beside the program");
    return function;
}

RawBusPeer::Delivery copyOf(const MessageWireHeader* header, const wchar_t* name, const wchar_t* source,
                            const wchar_t* payload)
{
    RawBusPeer::Delivery delivery;
    std::memset(&delivery.header, 0, sizeof(delivery.header));
    if (header)
        std::memcpy(&delivery.header, header,
                    header->version == MESSAGE_HEADER_VERSION_2 ? MESSAGE_HEADER_SIZE_V2 : MESSAGE_HEADER_SIZE_V1);
    delivery.name = name ? name : L"";
    delivery.source = source ? source : L"";
    delivery.payload = payload ? payload : L"";
    return delivery;
}

} // namespace

const MessageBusFunctions& RawBusPeer::table()
{
    return *static_cast<const MessageBusFunctions*>(createObject()(MESSAGE_BUS_FUNCTIONS_VERSION));
}

BusDoubleControl& RawBusPeer::control()
{
    return *static_cast<BusDoubleControl*>(const_cast<void*>(createObject()(kBusDoubleControlVersion)));
}

RawBusPeer::RawBusPeer()
{
    if (table().getHandle(&m_handle) != MODULE_STATUS_SUCCESS)
        throw std::runtime_error("the bus library double refused a handle");
}

RawBusPeer::~RawBusPeer()
{
    table().detachReplyCallback(m_handle, &RawBusPeer::onReply);
    table().release(m_handle);
}

uint32_t RawBusPeer::subscribe(const std::wstring& name)
{
    return table().subscribe(m_handle, this, &RawBusPeer::onMessage, name.c_str());
}

uint32_t RawBusPeer::subscribeFilter(const std::wstring& pattern)
{
    return table().subscribeFilter(m_handle, this, &RawBusPeer::onMessage, pattern.c_str());
}

uint32_t RawBusPeer::unsubscribe(uint32_t id)
{
    return table().unsubscribe(m_handle, id);
}

void RawBusPeer::setResponder(Responder responder)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_responder = std::move(responder);
}

bool RawBusPeer::waitForDelivery(Delivery& delivery, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> guard(m_lock);
    if (!m_changed.wait_for(guard, timeout, [this]() { return !m_deliveries.empty(); }))
        return false;
    delivery = std::move(m_deliveries.front());
    m_deliveries.pop_front();
    return true;
}

size_t RawBusPeer::deliveryCount()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_deliveryCount;
}

MessageWireHeader RawBusPeer::makeHeader(const std::wstring& name, const std::wstring& source,
                                         const std::wstring& payload, uint32_t flags)
{
    MessageWireHeader header;
    std::memset(&header, 0, sizeof(header));
    header.type = MESSAGE_HEADER_TYPE;
    header.totalSize = static_cast<uint32_t>(MESSAGE_HEADER_SIZE_V2 + 2 * (name.size() + source.size() + payload.size() + 3));
    header.flags = flags;
    header.version = MESSAGE_HEADER_VERSION_2;
    header.session.extensionType = MESSAGE_HEADER_SESSION_EXTENSION_TYPE;
    header.session.extensionLength = MESSAGE_HEADER_SESSION_EXTENSION_LENGTH;
    return header;
}

uint32_t RawBusPeer::publish(const std::wstring& name, const std::wstring& source, const std::wstring& payload,
                             uint32_t flags)
{
    const MessageWireHeader header = makeHeader(name, source, payload, flags);
    return table().publish(m_handle, &header, name.c_str(), source.c_str(), payload.c_str());
}

uint32_t RawBusPeer::reply(const Delivery& request, const std::wstring& name, const std::wstring& payload,
                           uint32_t extraFlags)
{
    const std::wstring source = L"RawBusPeer";
    MessageWireHeader header = makeHeader(name, source, payload, (1u << MESSAGE_FLAG_REPLY) | extraFlags);
    std::memcpy(header.secondAddress, request.header.firstAddress, sizeof(header.secondAddress));
    std::memcpy(header.secondTag, request.header.firstTag, sizeof(header.secondTag));
    header.inReplyTo = request.header.messageId;
    return table().publish(m_handle, &header, name.c_str(), source.c_str(), payload.c_str());
}

uint32_t RawBusPeer::request(const std::wstring& name, const std::wstring& payload, uint64_t timeoutMs,
                             uint64_t replyIndex)
{
    const std::wstring source = L"RawBusPeer";
    const MessageWireHeader header = makeHeader(name, source, payload);
    return table().request(m_handle, replyIndex, this, &RawBusPeer::onReply, &header, name.c_str(), source.c_str(),
                           payload.c_str(), timeoutMs);
}

bool RawBusPeer::waitForAnswer(Answer& answer, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> guard(m_lock);
    if (!m_changed.wait_for(guard, timeout, [this]() { return !m_answers.empty(); }))
        return false;
    answer = std::move(m_answers.front());
    m_answers.pop_front();
    return true;
}

MODULE_STATUS RawBusPeer::onMessage(void* context, const MessageWireHeader* header, const wchar_t* name,
                                    const wchar_t* source, const wchar_t* payload)
{
    auto* peer = static_cast<RawBusPeer*>(context);
    Delivery delivery = copyOf(header, name, source, payload);
    Responder responder;
    {
        std::lock_guard<std::mutex> guard(peer->m_lock);
        responder = peer->m_responder;
        peer->m_deliveries.push_back(delivery);
        ++peer->m_deliveryCount;
    }
    peer->m_changed.notify_all();
    if (responder)
        responder(*peer, delivery);
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS RawBusPeer::onReply(void* context, uint64_t replyIndex, const MessageWireHeader* header,
                                  const wchar_t* name, const wchar_t* source, const wchar_t* payload, uint32_t status)
{
    auto* peer = static_cast<RawBusPeer*>(context);
    Answer answer;
    answer.replyIndex = replyIndex;
    answer.status = status;
    if (status == MODULE_STATUS_SUCCESS)
        answer.reply = copyOf(header, name, source, payload);
    {
        std::lock_guard<std::mutex> guard(peer->m_lock);
        peer->m_answers.push_back(std::move(answer));
    }
    peer->m_changed.notify_all();
    return MODULE_STATUS_SUCCESS;
}

} // namespace BusDouble
