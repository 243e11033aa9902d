#include "BrokerFrame.h"

#include <cstring>

namespace BusBroker {

namespace {

bool knownOperation(uint32_t operation)
{
    switch (static_cast<Operation>(operation)) {
    case Operation::Subscribe:
    case Operation::SubscribeFilter:
    case Operation::Unsubscribe:
    case Operation::Publish:
    case Operation::Request:
    case Operation::Close:
    case Operation::Acknowledge:
    case Operation::Deliver:
    case Operation::Reply:
        return true;
    }
    return false;
}

size_t textBytes(const std::wstring& text)
{
    return (text.size() + 1) * sizeof(wchar_t);
}

// The text that starts at `offset` and ends at the first NUL before `end`;
// false when no NUL comes before `end`.
bool takeText(const uint8_t* bytes, size_t& offset, size_t end, std::wstring& text)
{
    text.clear();
    for (size_t at = offset; at + sizeof(wchar_t) <= end; at += sizeof(wchar_t)) {
        wchar_t unit;
        std::memcpy(&unit, bytes + at, sizeof(unit));
        if (unit == L'\0') {
            offset = at + sizeof(wchar_t);
            return true;
        }
        text += unit;
    }
    return false;
}

} // namespace

const char* faultText(FrameFault fault)
{
    switch (fault) {
    case FrameFault::None: return "none";
    case FrameFault::Short: return "shorter than a header and three empty texts";
    case FrameFault::Long: return "longer than the frame limit";
    case FrameFault::Odd: return "odd size";
    case FrameFault::WrongVersion: return "header version is not 2";
    case FrameFault::HeaderLength: return "header extension length is not 8";
    case FrameFault::LyingSize: return "header size differs from the bytes received";
    case FrameFault::Unterminated: return "a text is not terminated inside the frame";
    case FrameFault::UnknownOperation: return "unknown operation";
    }
    return "unknown fault";
}

MessageWireHeader defaultHeader(const std::wstring& name, const std::wstring& source, const std::wstring& payload)
{
    MessageWireHeader header;
    std::memset(&header, 0, sizeof(header));
    header.type = MESSAGE_HEADER_TYPE;
    header.totalSize = static_cast<uint32_t>(MESSAGE_HEADER_SIZE_V2 + textBytes(name) + textBytes(source) +
                                             textBytes(payload));
    header.version = MESSAGE_HEADER_VERSION_2;
    header.session.extensionType = MESSAGE_HEADER_SESSION_EXTENSION_TYPE;
    header.session.extensionLength = MESSAGE_HEADER_SESSION_EXTENSION_LENGTH;
    return header;
}

MessageWireHeader widenedHeader(const MessageWireHeader* header)
{
    MessageWireHeader wide;
    std::memset(&wide, 0, sizeof(wide));
    if (header->version == MESSAGE_HEADER_VERSION_2) {
        std::memcpy(&wide, header, MESSAGE_HEADER_SIZE_V2);
        return wide;
    }
    std::memcpy(&wide, header, MESSAGE_HEADER_SIZE_V1);
    wide.version = MESSAGE_HEADER_VERSION_2;
    wide.session.extensionType = MESSAGE_HEADER_SESSION_EXTENSION_TYPE;
    wide.session.extensionLength = MESSAGE_HEADER_SESSION_EXTENSION_LENGTH;
    return wide;
}

std::vector<uint8_t> encodeFrame(const Envelope& envelope, const MessageWireHeader& header, const std::wstring& name,
                                 const std::wstring& source, const std::wstring& payload)
{
    const size_t texts = textBytes(name) + textBytes(source) + textBytes(payload);
    if (name.size() > kMaxFrameBytes || source.size() > kMaxFrameBytes || payload.size() > kMaxFrameBytes ||
        sizeof(Envelope) + MESSAGE_HEADER_SIZE_V2 + texts > kMaxFrameBytes)
        return {};
    MessageWireHeader wire = widenedHeader(&header);
    wire.totalSize = static_cast<uint32_t>(MESSAGE_HEADER_SIZE_V2 + texts);

    std::vector<uint8_t> bytes(sizeof(Envelope) + MESSAGE_HEADER_SIZE_V2 + texts, 0);
    uint8_t* at = bytes.data();
    std::memcpy(at, &envelope, sizeof(envelope));
    at += sizeof(envelope);
    std::memcpy(at, &wire, sizeof(wire));
    at += sizeof(wire);
    for (const std::wstring* text : {&name, &source, &payload}) {
        std::memcpy(at, text->c_str(), textBytes(*text));
        at += textBytes(*text);
    }
    return bytes;
}

FrameFault decodeFrame(const uint8_t* bytes, size_t size, Frame& frame)
{
    if (!bytes || size < kMinFrameBytes)
        return FrameFault::Short;
    if (size > kMaxFrameBytes)
        return FrameFault::Long;
    if (size % sizeof(wchar_t) != 0)
        return FrameFault::Odd;
    std::memcpy(&frame.envelope, bytes, sizeof(Envelope));
    std::memcpy(&frame.header, bytes + sizeof(Envelope), sizeof(MessageWireHeader));
    if (frame.header.version != MESSAGE_HEADER_VERSION_2)
        return FrameFault::WrongVersion;
    if (frame.header.session.extensionLength != MESSAGE_HEADER_SESSION_EXTENSION_LENGTH)
        return FrameFault::HeaderLength;
    if (frame.header.totalSize != size - sizeof(Envelope))
        return FrameFault::LyingSize;
    size_t offset = sizeof(Envelope) + MESSAGE_HEADER_SIZE_V2;
    if (!takeText(bytes, offset, size, frame.name) || !takeText(bytes, offset, size, frame.source) ||
        !takeText(bytes, offset, size, frame.payload) || offset != size)
        return FrameFault::Unterminated;
    if (!knownOperation(frame.envelope.operation))
        return FrameFault::UnknownOperation;
    return FrameFault::None;
}

} // namespace BusBroker
