#include "message/Message.h"

#include "dll/CallGuarded.h"
#include "dll/ModulePath.h"

#include <windows.h>

#include <cstring>
#include <stdexcept>

namespace Ostrand {

namespace {

std::wstring readDefaultSource()
{
    HMODULE module = nullptr;
    // The last-error value is read below as a verdict on these two calls
    // only, so whatever an earlier call left there must not count.
    SetLastError(ERROR_SUCCESS);
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&readDefaultSource), &module))
        return std::wstring();
    const std::wstring path = internal::modulePath(module);
    return path.substr(path.find_last_of(L'\\') + 1);
}

bool holdsNul(const std::wstring& text)
{
    return text.find(L'\0') != std::wstring::npos;
}

} // namespace

Message::Message(std::wstring name, std::wstring source, std::wstring payload)
    : m_name(std::move(name)), m_source(std::move(source)), m_payload(std::move(payload))
{
    // The bus library takes each text up to its first NUL, while the header
    // counts the whole text: such a message would reach every receiver cut
    // and with a size that no longer matches, and be dropped there.
    if (holdsNul(m_name) || holdsNul(m_source) || holdsNul(m_payload))
        throw std::invalid_argument("message text holds a NUL character");
    m_header.reset(new MessageHeader(MessageHeader::defaultHeader()));
    m_header->totalSize = expectedSize();
}

Message::~Message() = default;

const std::wstring& Message::defaultSource()
{
    static const std::wstring source = readDefaultSource();
    return source;
}

std::shared_ptr<Message> Message::create(const std::wstring& name, const std::wstring& source,
                                         const std::wstring& payload)
{
    std::shared_ptr<Message> message;
    internal::callGuarded([&]() -> uint32_t {
        message = std::make_shared<Message>(name, source.empty() ? defaultSource() : source, payload);
        return MODULE_STATUS_SUCCESS;
    });
    return message;
}

std::shared_ptr<Message> Message::createReply(const std::wstring& name, const std::wstring& source,
                                              const std::wstring& payload) const
{
    std::shared_ptr<Message> reply = create(name, source, payload);
    if (!reply)
        return reply;
    if (m_header->testFlag(MESSAGE_FLAG_EXPECTS_REPLY)) {
        MessageHeader* header = reply->header();
        header->setFlag(MESSAGE_FLAG_REPLY);
        std::memcpy(header->secondAddress, m_header->firstAddress, sizeof(header->secondAddress));
        std::memcpy(header->secondTag, m_header->firstTag, sizeof(header->secondTag));
        header->inReplyTo = m_header->messageId;
    }
    return reply;
}

bool Message::copyHeaderFrom(const MessageWireHeader* source)
{
    MessageHeader::copyFrom(m_header.get(), source);
    if (!source) {
        m_header->totalSize = expectedSize();
        return true;
    }
    return m_header->totalSize == expectedSize();
}

uint32_t Message::expectedSize() const
{
    return MessageHeader::sizeFor(m_name.size(), m_source.size(), m_payload.size());
}

} // namespace Ostrand
