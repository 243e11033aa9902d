#ifndef SENTREL_MESSAGE_BUS_FUNCTIONS_H
#define SENTREL_MESSAGE_BUS_FUNCTIONS_H
/* The boundary to the bus library: its wire header, its table of ten
 * functions and the two callbacks it calls back on. Strings are
 * NUL-terminated UTF-16; every pointer handed across is valid for the call
 * only, and the receiver copies what it keeps. */
#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#include "ModuleStatus.h"

#ifdef __cplusplus
extern "C" {
#define MESSAGE_BUS_STATIC_ASSERT(condition, text) static_assert(condition, text)
#else
#define MESSAGE_BUS_STATIC_ASSERT(condition, text) _Static_assert(condition, text)
#endif

/* The version a caller asks the bus library's CreateObject for. */
#define MESSAGE_BUS_FUNCTIONS_VERSION 2001000u

#define MESSAGE_HEADER_SIZE_V1 100u
#define MESSAGE_HEADER_SIZE_V2 108u
#define MESSAGE_HEADER_VERSION_2 2u
#define MESSAGE_HEADER_TYPE 1u
#define MESSAGE_HEADER_SESSION_EXTENSION_TYPE 11u
#define MESSAGE_HEADER_SESSION_EXTENSION_LENGTH 8u

/* Bits of MessageWireHeader.flags. */
#define MESSAGE_FLAG_REPLY 0u            /* the message answers a request */
#define MESSAGE_FLAG_EXPECTS_REPLY 1u    /* the sender waits for a reply */
#define MESSAGE_FLAG_REPLY_ONLY 3u       /* a reply published once, without a plain copy */
#define MESSAGE_FLAG_REPLY_COPIED 4u     /* a reply the client already published twice */

#pragma pack(push, 1)

/* The session extension of a version-2 header (offsets 100 to 107). */
typedef struct MessageSessionExtension {
    uint16_t extensionType;   /* 11 */
    uint16_t extensionLength; /* 8 */
    uint32_t sessionId;       /* 0: no session */
} MessageSessionExtension;

/* Little-endian and packed: 108 bytes, of which a version-1 header has the
 * first 100. Name, source and payload follow it on the wire. */
typedef struct MessageWireHeader {
    uint16_t type;
    uint32_t totalSize;
    uint32_t flags;
    uint16_t version;
    uint8_t firstAddress[24];
    uint8_t secondAddress[24];
    uint8_t firstTag[12];
    uint8_t secondTag[12];
    uint64_t messageId;
    uint64_t inReplyTo;
    MessageSessionExtension session;
} MessageWireHeader;

#pragma pack(pop)

MESSAGE_BUS_STATIC_ASSERT(sizeof(MessageSessionExtension) == 8, "session extension is 8 bytes");
MESSAGE_BUS_STATIC_ASSERT(sizeof(MessageWireHeader) == MESSAGE_HEADER_SIZE_V2, "wire header is 108 bytes");
MESSAGE_BUS_STATIC_ASSERT(offsetof(MessageWireHeader, type) == 0, "type at 0");
MESSAGE_BUS_STATIC_ASSERT(offsetof(MessageWireHeader, totalSize) == 2, "totalSize at 2");
MESSAGE_BUS_STATIC_ASSERT(offsetof(MessageWireHeader, flags) == 6, "flags at 6");
MESSAGE_BUS_STATIC_ASSERT(offsetof(MessageWireHeader, version) == 10, "version at 10");
MESSAGE_BUS_STATIC_ASSERT(offsetof(MessageWireHeader, firstAddress) == 12, "firstAddress at 12");
MESSAGE_BUS_STATIC_ASSERT(offsetof(MessageWireHeader, secondAddress) == 36, "secondAddress at 36");
MESSAGE_BUS_STATIC_ASSERT(offsetof(MessageWireHeader, firstTag) == 60, "firstTag at 60");
MESSAGE_BUS_STATIC_ASSERT(offsetof(MessageWireHeader, secondTag) == 72, "secondTag at 72");
MESSAGE_BUS_STATIC_ASSERT(offsetof(MessageWireHeader, messageId) == 84, "messageId at 84");
MESSAGE_BUS_STATIC_ASSERT(offsetof(MessageWireHeader, inReplyTo) == 92, "inReplyTo at 92");
MESSAGE_BUS_STATIC_ASSERT(offsetof(MessageWireHeader, session) == MESSAGE_HEADER_SIZE_V1, "extension at 100");

/* Called by the library for each delivered message of a subscription. */
typedef MODULE_STATUS (*MessageBusSubscriptionCallback)(void* context, const MessageWireHeader* header,
                                                        const wchar_t* name, const wchar_t* source,
                                                        const wchar_t* payload);

/* Called by the library with a request's reply (status 0), its time-out
 * (MODULE_STATUS_TIMEOUT) or another failure; the strings are not read when
 * the status is not 0. */
typedef MODULE_STATUS (*MessageBusReplyCallback)(void* context, uint64_t replyIndex, const MessageWireHeader* header,
                                                 const wchar_t* name, const wchar_t* source, const wchar_t* payload,
                                                 uint32_t status);

typedef MODULE_STATUS (*MessageBusPublishFunction)(void* handle, const MessageWireHeader* header, const wchar_t* name,
                                                   const wchar_t* source, const wchar_t* payload);
typedef MODULE_STATUS (*MessageBusRequestFunction)(void* handle, uint64_t replyIndex, void* replyContext,
                                                   MessageBusReplyCallback replyCallback,
                                                   const MessageWireHeader* header, const wchar_t* name,
                                                   const wchar_t* source, const wchar_t* payload,
                                                   uint64_t timeoutMs);

/* What the bus library's CreateObject(MESSAGE_BUS_FUNCTIONS_VERSION) returns. */
typedef struct MessageBusFunctions {
    MODULE_STATUS (*getHandle)(void** handle);
    MODULE_STATUS (*release)(void* handle);
    MessageBusPublishFunction publish;
    MessageBusRequestFunction request;
    /* Subscription ids are never 0; 0 means failure. */
    uint32_t (*subscribe)(void* handle, void* context, MessageBusSubscriptionCallback callback, const wchar_t* name);
    uint32_t (*subscribeFilter)(void* handle, void* context, MessageBusSubscriptionCallback callback,
                                const wchar_t* namePattern);
    MODULE_STATUS (*unsubscribe)(void* handle, uint32_t subscriptionId);
    MODULE_STATUS (*detachReplyCallback)(void* handle, MessageBusReplyCallback replyCallback);
    MessageBusPublishFunction publishEx;
    MessageBusRequestFunction requestEx;
} MessageBusFunctions;

MESSAGE_BUS_STATIC_ASSERT(sizeof(MessageBusFunctions) == 10 * sizeof(void*), "ten entries");

#ifdef __cplusplus
}
#endif

#undef MESSAGE_BUS_STATIC_ASSERT

#endif
