#pragma once
// One frame between the bus library double and the broker: a small envelope
// saying what to do, then the bus's own wire message (the 108-byte header and
// the name, source and payload, each NUL-terminated UTF-16). The same layout
// travels both ways, and each side checks every frame it receives.
#include "MessageBusFunctions.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace BusBroker {

enum class Operation : uint32_t {
    // library -> broker
    Subscribe = 1,       // token: the subscription id; name: the message name
    SubscribeFilter = 2, // token: the subscription id; name: the pattern
    Unsubscribe = 3,     // token: the subscription id
    Publish = 4,         // a reply (flag bit 0) goes to its requester only
    Request = 5,         // token: the requester's request token; argument: time-out in ms
    Close = 6,           // the library is done; the broker closes the connection
    // broker -> library
    Acknowledge = 16,    // sequence: the call answered; status: its result
    Deliver = 17,        // token: the subscription id the message matched
    Reply = 18,          // token: the request token; status: 0, or the time-out
};

// Laid out without padding, little-endian, as every field sits at a multiple of its size.
struct Envelope {
    uint32_t operation;
    uint32_t status;
    uint64_t sequence; // a call waiting for its acknowledgement; 0: none waits
    uint64_t token;
    uint64_t argument;
};
static_assert(sizeof(Envelope) == 32, "envelope is 32 bytes");

// The largest frame either side sends or accepts.
const size_t kMaxFrameBytes = 1u << 20;
// Envelope, header and three empty strings.
const size_t kMinFrameBytes = sizeof(Envelope) + MESSAGE_HEADER_SIZE_V2 + 3 * sizeof(wchar_t);

// Why a received frame was refused.
enum class FrameFault : uint32_t {
    None,
    Short,
    Long,
    Odd,
    WrongVersion,
    HeaderLength,
    LyingSize,
    Unterminated,
    UnknownOperation,
};
const char* faultText(FrameFault fault);

struct Frame {
    Envelope envelope{};
    MessageWireHeader header{};
    std::wstring name;
    std::wstring source;
    std::wstring payload;
};

// A version-2 header for the three texts: type, size and extension filled,
// everything else zero.
MessageWireHeader defaultHeader(const std::wstring& name, const std::wstring& source, const std::wstring& payload);

// The bytes of a frame. The header's size is set from the texts; a header of
// another version is widened to version 2 first. Empty when the frame would
// be larger than kMaxFrameBytes.
std::vector<uint8_t> encodeFrame(const Envelope& envelope, const MessageWireHeader& header, const std::wstring& name,
                                 const std::wstring& source, const std::wstring& payload);

// Checks `size` received bytes and copies them out. Never reads outside them.
FrameFault decodeFrame(const uint8_t* bytes, size_t size, Frame& frame);

// A header given by a caller of the table, as version 2 (a version-1 header
// is 100 bytes and must not be read further).
MessageWireHeader widenedHeader(const MessageWireHeader* header);

} // namespace BusBroker
