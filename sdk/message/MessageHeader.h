#pragma once
#include "MessageBusFunctions.h"

#include <cstdint>

namespace Ostrand {

// The wire header of one bus message, with the operations the SDK needs on it.
// It adds no data to the packed C layout, so a pointer to it is a pointer to
// the 108 bytes the bus library reads.
struct MessageHeader : MessageWireHeader {
    bool testFlag(uint32_t bit) const;
    void setFlag(uint32_t bit);
    void clearFlag(uint32_t bit);
    void clearReplyTo();

    // The session extension when `version` is 2 and this header is a
    // version-2 header; null otherwise.
    MessageSessionExtension* sessionExtension(uint16_t version);
    const MessageSessionExtension* sessionExtension(uint16_t version) const;

    // The header every new message starts from: type 1, version 2, the
    // session extension, everything else 0 (totalSize too).
    static const MessageHeader& defaultHeader();

    // Writes the default header into `destination`, then the source over it:
    // all 108 bytes of a version-2 source, the first 100 bytes of any other
    // (which is then upgraded to version 2). Reads no byte past the size the
    // source's version gives it.
    static void copyFrom(MessageHeader* destination, const MessageWireHeader* source);

    // 108 + 2 x (each text's length + 1).
    static uint32_t sizeFor(size_t nameLength, size_t sourceLength, size_t payloadLength);
};

static_assert(sizeof(MessageHeader) == MESSAGE_HEADER_SIZE_V2, "the SDK header is the wire header");

} // namespace Ostrand
