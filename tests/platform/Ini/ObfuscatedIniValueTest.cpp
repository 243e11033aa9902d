#include "Ini/ObfuscatedIniValueHeader.h"
#include "GuardedBuffer.h"
#include "IniTestText.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace Halvex::internal;
using TestSupport::GuardedBuffer;

namespace {

ObfuscatedIniValueHeader headerOf(const std::string& hex)
{
    const std::vector<uint8_t> bytes = IniText::bytesOf(hex);
    ObfuscatedIniValueHeader header;
    EXPECT_EQ(bytes.size(), sizeof(header));
    std::memcpy(&header, bytes.data(), sizeof(header));
    return header;
}

TEST(ObfuscatedIniValueTest, EncipheringGivesTheStoredForm)
{
    struct Case {
        std::vector<uint8_t> plain;
        uint32_t type;
        const char* header;
        const char* data;
    } const cases[] = {
        {{5, 0, 0, 0}, kIniValueNumber, IniText::kLastLogIdxHeader, IniText::kLastLogIdxData},
        {{'S', 'e', 'n', 't', 'r', 'e', 'l'}, kIniValueText, IniText::kNameHeader, IniText::kNameData},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> enciphered(c.plain.size());
        ObfuscatedIniValueHeader header;
        ASSERT_EQ(EncipherIniValue(c.plain.data(), c.plain.size(), c.type, enciphered.data(), enciphered.size(),
                                   header),
                  kIniCipherOk);
        std::vector<uint8_t> headerBytes(sizeof(header));
        std::memcpy(headerBytes.data(), &header, sizeof(header));
        EXPECT_EQ(IniText::hexStructure(headerBytes), c.header);
        EXPECT_EQ(IniText::hexStructure(enciphered), c.data);
        EXPECT_EQ(IniText::hexStructure(headerBytes).size(), kIniHeaderTextLength);

        std::vector<uint8_t> plain(c.plain.size());
        EXPECT_EQ(DecipherIniValue(enciphered.data(), enciphered.size(), header, plain.data(), plain.size()),
                  kIniCipherOk);
        EXPECT_EQ(plain, c.plain);
    }
}

TEST(ObfuscatedIniValueTest, EncipherAndDecipherRefuseWhatDoesNotFit)
{
    const uint8_t plain[4] = {1, 2, 3, 4};
    uint8_t out[4] = {};
    ObfuscatedIniValueHeader header;
    EXPECT_EQ(EncipherIniValue(plain, 4, kIniValueNumber, out, 3, header), kIniInvalidParameter);
    EXPECT_EQ(EncipherIniValue(plain, 4, kIniValueNumber, nullptr, 4, header), kIniInvalidParameter);
    // Nothing to encipher: the cipher refuses an empty input.
    EXPECT_EQ(EncipherIniValue(plain, 0, kIniValueText, out, 4, header), kIniEncipherFailed);

    ASSERT_EQ(EncipherIniValue(plain, 4, kIniValueNumber, out, 4, header), kIniCipherOk);
    uint8_t back[4] = {};
    EXPECT_EQ(DecipherIniValue(out, 4, header, back, 3), kIniMoreData);
    EXPECT_EQ(DecipherIniValue(out, 4, header, nullptr, 4), kIniMoreData);
    EXPECT_EQ(DecipherIniValue(out, 0, header, back, 4), kIniInvalidData);
    EXPECT_EQ(DecipherIniValue(nullptr, 4, header, back, 4), kIniInvalidData);
}

TEST(ObfuscatedIniValueTest, DecipherChecksDigestLengthAndMagic)
{
    const ObfuscatedIniValueHeader good = headerOf(IniText::kNameHeader);
    const std::vector<uint8_t> data = IniText::bytesOf(IniText::kNameData);
    std::vector<uint8_t> out(64);

    struct Case {
        const char* what;
        void (*damage)(ObfuscatedIniValueHeader&, std::vector<uint8_t>&);
    } const cases[] = {
        {"bad magic", [](ObfuscatedIniValueHeader& h, std::vector<uint8_t>&) { h.magic[3] = 'X'; }},
        {"wrong digest", [](ObfuscatedIniValueHeader& h, std::vector<uint8_t>&) { h.digest[7] ^= 1; }},
        {"length too large", [](ObfuscatedIniValueHeader& h, std::vector<uint8_t>&) { h.length += 1; }},
        {"length too small", [](ObfuscatedIniValueHeader& h, std::vector<uint8_t>&) { h.length -= 1; }},
        {"changed data", [](ObfuscatedIniValueHeader&, std::vector<uint8_t>& d) { d[2] ^= 0x40; }},
        {"short data", [](ObfuscatedIniValueHeader&, std::vector<uint8_t>& d) { d.pop_back(); }},
    };
    for (const auto& c : cases) {
        ObfuscatedIniValueHeader header = good;
        std::vector<uint8_t> bytes = data;
        c.damage(header, bytes);
        // The data sits right before an inaccessible page: any read past it crashes.
        GuardedBuffer guarded(bytes.data(), bytes.size());
        EXPECT_EQ(DecipherIniValue(guarded.data(), guarded.size(), header, out.data(), out.size()), kIniInvalidData)
            << c.what;
    }
    GuardedBuffer intact(data.data(), data.size());
    EXPECT_EQ(DecipherIniValue(intact.data(), intact.size(), good, out.data(), out.size()), kIniCipherOk);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 7), "Sentrel");
}

TEST(ObfuscatedIniValueTest, HexReadingStopsAtTheEndOfTheText)
{
    struct Case {
        std::wstring text;
        size_t count;
        std::vector<uint8_t> expected; // bytes read; the rest keep 0xEE
    } const cases[] = {
        {L"", 4, {}},
        {L"4", 4, {}},
        {L"43", 4, {0x43}},
        {L"435", 4, {0x43}},
        {L"4356", 1, {0x43}},
        {L"43565247", 4, {0x43, 0x56, 0x52, 0x47}},
        {L"43565247A", 8, {0x43, 0x56, 0x52, 0x47}},
        {L"ab0F", 2, {0xAB, 0x0F}},
        {L"zz4G 1", 3, {0x00, 0x00, 0x00}}, // not hexadecimal: the byte 0
    };
    for (const auto& c : cases) {
        const std::string label(c.text.begin(), c.text.end());
        GuardedBuffer guarded(c.text.data(), c.text.size() * sizeof(wchar_t));
        std::vector<uint8_t> out(c.count, 0xEE);
        EXPECT_EQ(ReadHexBytes(guarded.wide(), guarded.wideSize(), out.data(), out.size()), c.expected.size())
            << label;
        for (size_t k = 0; k < out.size(); ++k)
            EXPECT_EQ(out[k], k < c.expected.size() ? c.expected[k] : 0xEE) << label << " byte " << k;
    }
    uint8_t out[4];
    EXPECT_EQ(ReadHexBytes(nullptr, 8, out, 4), 0u);
    EXPECT_EQ(ReadHexBytes(L"4356", 4, nullptr, 4), 0u);
}

} // namespace
