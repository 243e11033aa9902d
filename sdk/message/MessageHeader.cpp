#include "message/MessageHeader.h"

#include <cstring>
#include <limits>

namespace Ostrand {

namespace {

MessageHeader makeDefaultHeader()
{
    MessageHeader header;
    std::memset(static_cast<void*>(&header), 0, sizeof(header));
    header.type = MESSAGE_HEADER_TYPE;
    header.version = MESSAGE_HEADER_VERSION_2;
    header.session.extensionType = MESSAGE_HEADER_SESSION_EXTENSION_TYPE;
    header.session.extensionLength = MESSAGE_HEADER_SESSION_EXTENSION_LENGTH;
    return header;
}

} // namespace

bool MessageHeader::testFlag(uint32_t bit) const
{
    return (flags >> (bit % 32u)) & 1u;
}

void MessageHeader::setFlag(uint32_t bit)
{
    flags = flags | (1u << (bit % 32u));
}

void MessageHeader::clearFlag(uint32_t bit)
{
    flags = flags & ~(1u << (bit % 32u));
}

void MessageHeader::clearReplyTo()
{
    inReplyTo = 0;
}

MessageSessionExtension* MessageHeader::sessionExtension(uint16_t wanted)
{
    if (wanted != MESSAGE_HEADER_VERSION_2 || version != MESSAGE_HEADER_VERSION_2)
        return nullptr;
    return &session;
}

const MessageSessionExtension* MessageHeader::sessionExtension(uint16_t wanted) const
{
    return const_cast<MessageHeader*>(this)->sessionExtension(wanted);
}

const MessageHeader& MessageHeader::defaultHeader()
{
    static const MessageHeader header = makeDefaultHeader();
    return header;
}

void MessageHeader::copyFrom(MessageHeader* destination, const MessageWireHeader* source)
{
    if (!destination)
        return;
    std::memcpy(static_cast<void*>(destination), &defaultHeader(), sizeof(MessageHeader));
    if (!source)
        return;
    if (source->version == MESSAGE_HEADER_VERSION_2) {
        std::memcpy(static_cast<void*>(destination), source, MESSAGE_HEADER_SIZE_V2);
        return;
    }
    // A version-1 sender knows only the first 100 bytes; the rest may not exist.
    std::memcpy(static_cast<void*>(destination), source, MESSAGE_HEADER_SIZE_V1);
    destination->totalSize = destination->totalSize + (MESSAGE_HEADER_SIZE_V2 - MESSAGE_HEADER_SIZE_V1);
    destination->version = MESSAGE_HEADER_VERSION_2;
}

uint32_t MessageHeader::sizeFor(size_t nameLength, size_t sourceLength, size_t payloadLength)
{
    const unsigned long long units = 3ull + nameLength + sourceLength + payloadLength;
    const unsigned long long size = MESSAGE_HEADER_SIZE_V2 + 2ull * units;
    if (size > std::numeric_limits<uint32_t>::max())
        return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(size);
}

} // namespace Ostrand
