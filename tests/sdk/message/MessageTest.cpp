#include "message/Message.h"

#include "PackedField.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <vector>

using Ostrand::Message;
using Ostrand::MessageHeader;
using TestSupport::field;

namespace {


std::vector<uint8_t> bytesOf(const MessageWireHeader* header, size_t size = sizeof(MessageWireHeader))
{
    const auto* first = reinterpret_cast<const uint8_t*>(header);
    return std::vector<uint8_t>(first, first + size);
}

MessageWireHeader patternedHeader(uint16_t version, uint32_t totalSize)
{
    MessageWireHeader header;
    auto* bytes = reinterpret_cast<uint8_t*>(&header);
    for (size_t i = 0; i < sizeof(header); ++i)
        bytes[i] = static_cast<uint8_t>(0x30 + i);
    header.version = version;
    header.totalSize = totalSize;
    return header;
}

} // namespace

TEST(MessageHeader, DefaultHeaderOfATinyMessageByteForByte)
{
    const auto message = Message::create(L"a", L"b", L"");
    ASSERT_TRUE(message);
    std::vector<uint8_t> expected(108, 0);
    expected[0] = 1;                 // type
    expected[2] = 118;               // totalSize: 114 + 2 x 2
    expected[10] = 2;                // version
    expected[100] = 11;              // extension type
    expected[102] = 8;               // extension length
    EXPECT_EQ(expected, bytesOf(message->header()));
}

TEST(MessageHeader, TotalSizeCountsEveryTextWithItsTerminator)
{
    struct Case { const wchar_t* name; const wchar_t* source; const wchar_t* payload; uint32_t size; };
    const Case cases[] = {
        {L"a", L"b", L"", 118},
        {L"name", L"src", L"{\"k\":1}", 114 + 2 * (4 + 3 + 7)},
        {L"x", L"s", L"\u00e9\u4e2d", 114 + 2 * 4},
    };
    for (const Case& c : cases) {
        const auto message = Message::create(c.name, c.source, c.payload);
        ASSERT_TRUE(message);
        EXPECT_EQ(c.size, field(message->header()->totalSize)) << c.name;
        EXPECT_EQ(c.size, message->expectedSize());
    }
}

TEST(MessageHeader, FlagsTakeTheBitModulo32)
{
    MessageHeader header = MessageHeader::defaultHeader();
    header.setFlag(33);
    EXPECT_TRUE(header.testFlag(1));
    EXPECT_EQ(2u, field(header.flags));
    header.setFlag(4);
    header.clearFlag(1);
    EXPECT_EQ(16u, field(header.flags));
    EXPECT_FALSE(header.testFlag(0));
}

TEST(MessageHeader, CopyFromAVersion2HeaderTakesAll108Bytes)
{
    const MessageWireHeader source = patternedHeader(2, 300);
    MessageHeader destination = MessageHeader::defaultHeader();
    MessageHeader::copyFrom(&destination, &source);
    EXPECT_EQ(bytesOf(&source), bytesOf(&destination));
}

TEST(MessageHeader, CopyFromOtherVersionsReadsOnly100BytesAndUpgrades)
{
    for (uint16_t version : {uint16_t(1), uint16_t(3), uint16_t(0)}) {
        // Only 100 bytes exist: the copy must not need more.
        std::vector<uint8_t> exact(100);
        const MessageWireHeader patterned = patternedHeader(version, 200);
        std::memcpy(exact.data(), &patterned, exact.size());
        MessageHeader destination;
        MessageHeader::copyFrom(&destination, reinterpret_cast<const MessageWireHeader*>(exact.data()));
        EXPECT_EQ(2, field(destination.version));
        EXPECT_EQ(208u, field(destination.totalSize));
        EXPECT_EQ(11, field(destination.session.extensionType));
        EXPECT_EQ(8, field(destination.session.extensionLength));
        EXPECT_EQ(0u, field(destination.session.sessionId));
        EXPECT_EQ(0, std::memcmp(&destination.flags, &patterned.flags, 4));
        EXPECT_EQ(0, std::memcmp(destination.firstAddress, patterned.firstAddress, 88)) << version;
    }
}

TEST(MessageHeader, CopyFromNullLeavesTheDefault)
{
    MessageWireHeader patterned = patternedHeader(2, 5);
    MessageHeader destination;
    std::memcpy(static_cast<void*>(&destination), &patterned, sizeof(patterned));
    MessageHeader::copyFrom(&destination, nullptr);
    MessageHeader expected = MessageHeader::defaultHeader();
    EXPECT_EQ(bytesOf(&expected), bytesOf(&destination));
}

TEST(MessageHeader, SessionExtensionOnlyForVersion2)
{
    MessageHeader header = MessageHeader::defaultHeader();
    ASSERT_NE(nullptr, header.sessionExtension(2));
    EXPECT_EQ(reinterpret_cast<uint8_t*>(&header) + 100, reinterpret_cast<uint8_t*>(header.sessionExtension(2)));
    EXPECT_EQ(nullptr, header.sessionExtension(1));
    header.version = 1;
    EXPECT_EQ(nullptr, header.sessionExtension(2));
}

TEST(Message, EmptySourceBecomesTheContainingFileName)
{
    SetLastError(ERROR_FILE_NOT_FOUND); // left over from an unrelated call
    const auto first = Message::create(L"n", L"", L"");
    const auto second = Message::create(L"n", L"", L"");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(L"sdk_message_tests.exe", first->source());
    EXPECT_EQ(first->source(), second->source());
    EXPECT_EQ(L"given", Message::create(L"n", L"given", L"")->source());
}

TEST(Message, ReplyToARequestCarriesItsAddressTagAndId)
{
    const auto request = Message::create(L"q", L"s", L"");
    MessageHeader* header = request->header();
    header->setFlag(MESSAGE_FLAG_EXPECTS_REPLY);
    header->messageId = 7;
    for (size_t i = 0; i < sizeof(header->firstAddress); ++i)
        header->firstAddress[i] = static_cast<uint8_t>(i + 1);
    for (size_t i = 0; i < sizeof(header->firstTag); ++i)
        header->firstTag[i] = static_cast<uint8_t>(0xA0 + i);

    const auto reply = request->createReply(L"r", L"t", L"p");
    ASSERT_TRUE(reply);
    const MessageHeader* answer = reply->header();
    EXPECT_EQ(1u, field(answer->flags));
    EXPECT_EQ(7u, field(answer->inReplyTo));
    EXPECT_EQ(0u, field(answer->messageId));
    EXPECT_EQ(0, std::memcmp(answer->secondAddress, header->firstAddress, 24));
    EXPECT_EQ(0, std::memcmp(answer->secondTag, header->firstTag, 12));
    const uint8_t zeros[24] = {};
    EXPECT_EQ(0, std::memcmp(answer->firstAddress, zeros, 24));
    EXPECT_EQ(reply->expectedSize(), field(answer->totalSize));
}

TEST(Message, ReplyToAPlainMessageIsPlain)
{
    const auto request = Message::create(L"q", L"s", L"");
    request->header()->messageId = 7;
    const auto reply = request->createReply(L"r", L"t", L"");
    ASSERT_TRUE(reply);
    EXPECT_EQ(0u, field(reply->header()->flags));
    EXPECT_EQ(0u, field(reply->header()->inReplyTo));
}

TEST(Message, CopyHeaderFromChecksTheSizeAgainstTheText)
{
    const auto message = Message::create(L"ab", L"c", L"d");
    MessageWireHeader good = *message->header();
    good.flags = 5;
    EXPECT_TRUE(message->copyHeaderFrom(&good));
    EXPECT_EQ(5u, field(message->header()->flags));

    MessageWireHeader wrong = good;
    wrong.totalSize = 4000;
    EXPECT_FALSE(message->copyHeaderFrom(&wrong));

    // Without a header the message keeps a default one that still fits its text.
    EXPECT_TRUE(message->copyHeaderFrom(nullptr));
    EXPECT_EQ(message->expectedSize(), field(message->header()->totalSize));
    EXPECT_EQ(0u, field(message->header()->flags));
}

// The wire carries each text up to its first NUL and a size counted over the
// whole text: a text with a NUL inside could only arrive cut and be dropped.
struct InnerNul {
    const char* field;
    std::wstring name;
    std::wstring source;
    std::wstring payload;
};

const std::wstring kWithNul(L"a\0b", 3);

const InnerNul kInnerNuls[] = {
    {"name", kWithNul, L"s", L"{}"},
    {"source", L"n", kWithNul, L"{}"},
    {"payload", L"n", L"s", kWithNul},
    {"trailing NUL in the payload", L"n", L"s", std::wstring(L"{}\0", 3)},
};

TEST(Message, TextWithAnInnerNulIsNoMessage)
{
    const auto request = Message::create(L"q", L"s", L"");
    ASSERT_TRUE(request);
    request->header()->setFlag(MESSAGE_FLAG_EXPECTS_REPLY);
    for (const InnerNul& c : kInnerNuls) {
        EXPECT_EQ(nullptr, Message::create(c.name, c.source, c.payload)) << c.field;
        EXPECT_EQ(nullptr, request->createReply(c.name, c.source, c.payload)) << c.field;
        EXPECT_THROW(Message(c.name, c.source, c.payload), std::invalid_argument) << c.field;
    }
}
