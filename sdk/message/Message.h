#pragma once
#include "message/MessageHeader.h"

#include <memory>
#include <string>

namespace Ostrand {

// One bus message: name, source, UTF-16 payload and its wire header, shared
// by std::shared_ptr between the bus client, subscribers and replies.
class Message {
public:
    // Throws std::invalid_argument when a text holds a NUL character: the
    // wire ends each text at its first one.
    Message(std::wstring name, std::wstring source, std::wstring payload);
    virtual ~Message();
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;

    // Never throws; an empty pointer when the message could not be built,
    // among others when a text holds a NUL character (publishing or sending
    // the empty pointer then answers MODULE_STATUS_INVALID_PARAMETER). An
    // empty source becomes the file name of the module holding this code.
    static std::shared_ptr<Message> create(const std::wstring& name, const std::wstring& source,
                                           const std::wstring& payload);

    // The answer to this message: marked as a reply to it when it expects one,
    // a plain message otherwise. Empty when it could not be built.
    std::shared_ptr<Message> createReply(const std::wstring& name, const std::wstring& source,
                                         const std::wstring& payload) const;

    const std::wstring& name() const { return m_name; }
    const std::wstring& source() const { return m_source; }
    const std::wstring& payload() const { return m_payload; }
    MessageHeader* header() const { return m_header.get(); }

    // Takes a header that arrived from outside (MessageHeader::copyFrom).
    // Without one the header stays the default, sized for this message's
    // text. False, with the copy in place, when the copied totalSize does not
    // describe this message's text.
    bool copyHeaderFrom(const MessageWireHeader* source);

    // The size the header must give for this message's text.
    uint32_t expectedSize() const;

    // The default source: the file name of the module holding this code;
    // empty when it cannot be read.
    static const std::wstring& defaultSource();

private:
    std::wstring m_name;
    std::wstring m_source;
    std::wstring m_payload;
    std::unique_ptr<MessageHeader> m_header;
};

using MessagePtr = std::shared_ptr<Message>;

} // namespace Ostrand
