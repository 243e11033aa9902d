#include "Registry/CCipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

using namespace Halvex::internal;

namespace {

std::vector<uint8_t> encrypt(const void* key, int keyLength, int rounds, const std::vector<uint8_t>& plain)
{
    std::vector<uint8_t> out(plain.size());
    CCipher cipher(key, keyLength, rounds);
    EXPECT_TRUE(cipher.Encrypt(plain.data(), out.data(), plain.size()));
    return out;
}

std::vector<uint8_t> decrypt(const void* key, int keyLength, int rounds, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> out(data.size());
    CCipher cipher(key, keyLength, rounds);
    EXPECT_TRUE(cipher.Decrypt(data.data(), out.data(), data.size()));
    return out;
}

} // namespace

// The RC4 keystream of the key "Key" is EB 9F 77 81 B7 34 CA 72 A7 19 (the
// published test vector): EB is the first feedback, then each byte takes two
// keystream bytes a, b per round as c = ((a ^ feedback) + b) mod 256.
TEST(CCipher, KnownAnswersOverThePublishedRc4Keystream)
{
    struct Case {
        int rounds;
        std::vector<uint8_t> plain, expected;
    };
    const Case cases[] = {
        {1, {0x00, 0x00, 0x00, 0x00}, {0xEB, 0x21, 0xA9, 0x40}},
        // The plaintext flows into the feedback and stays there for the next byte.
        {1, {0x01, 0x00}, {0xEC, 0x22}},
        {2, {0x00}, {0x21}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.expected, encrypt("Key", 3, c.rounds, c.plain));
        EXPECT_EQ(c.plain, decrypt("Key", 3, c.rounds, c.expected));
    }
}

TEST(CCipher, DecryptRestoresEncryptForSeveralRoundCountsAndKeys)
{
    std::mt19937 random(1120);
    std::vector<uint8_t> plain(1500);
    for (auto& b : plain)
        b = uint8_t(random());
    for (int rounds : {0, 1, 2, 3, 5, 6, 9}) {
        SCOPED_TRACE(rounds);
        for (const char* key : {kObfuscatedRegistryKey, kObfuscatedIniKey, "k"}) {
            const int length = int(std::strlen(key));
            const auto data = encrypt(key, length, rounds, plain);
            EXPECT_NE(plain, data);
            EXPECT_EQ(plain, decrypt(key, length, rounds, data));
        }
    }
}

TEST(CCipher, KeystreamRunsOnAcrossCallsAndStartsAgainWithANewContext)
{
    const std::vector<uint8_t> plain(64, 0x5A);
    const auto whole = encrypt(kObfuscatedRegistryKey, kObfuscationKeyLength, 1, plain);
    CCipher cipher(kObfuscatedRegistryKey, kObfuscationKeyLength, 1);
    std::vector<uint8_t> pieces(64);
    ASSERT_TRUE(cipher.Encrypt(plain.data(), pieces.data(), 10));
    ASSERT_TRUE(cipher.Encrypt(plain.data() + 10, pieces.data() + 10, 54));
    EXPECT_EQ(whole, pieces);
    EXPECT_EQ(whole, encrypt(kObfuscatedRegistryKey, kObfuscationKeyLength, 1, plain));
}

TEST(CCipher, NoKeyMeansTheDefaultKey)
{
    std::vector<uint8_t> plain(100);
    for (size_t k = 0; k < plain.size(); ++k)
        plain[k] = uint8_t(k);
    const auto explicitDefault = encrypt(kCipherDefaultKey, kObfuscationKeyLength, 1, plain);
    EXPECT_EQ(explicitDefault, encrypt(nullptr, 0, 1, plain));
    EXPECT_EQ(explicitDefault, encrypt(nullptr, 38, 1, plain));
    EXPECT_EQ(explicitDefault, encrypt(kObfuscatedRegistryKey, 0, 1, plain));
    EXPECT_EQ(explicitDefault, encrypt(kObfuscatedRegistryKey, -5, 1, plain));
    EXPECT_NE(explicitDefault, encrypt(kObfuscatedRegistryKey, kObfuscationKeyLength, 1, plain));
}

TEST(CCipher, KeysAreThirtyEightCharacterGuids)
{
    for (const char* key : {kObfuscatedRegistryKey, kObfuscatedIniKey, kCipherDefaultKey}) {
        ASSERT_EQ(size_t(kObfuscationKeyLength), std::strlen(key));
        EXPECT_EQ('{', key[0]);
        EXPECT_EQ('}', key[37]);
    }
}

TEST(CCipher, RefusesNullBuffersAndEmptyInput)
{
    uint8_t in[4] = {1, 2, 3, 4}, out[4] = {9, 9, 9, 9};
    CCipher cipher(nullptr, 0, 1);
    EXPECT_FALSE(cipher.Encrypt(nullptr, out, 4));
    EXPECT_FALSE(cipher.Encrypt(in, nullptr, 4));
    EXPECT_FALSE(cipher.Encrypt(in, out, 0));
    EXPECT_FALSE(cipher.Decrypt(nullptr, out, 4));
    EXPECT_FALSE(cipher.Decrypt(in, nullptr, 4));
    EXPECT_FALSE(cipher.Decrypt(in, out, 0));
    EXPECT_EQ(9, out[0]);
    // Refused calls take nothing from the keystream.
    uint8_t first[4];
    ASSERT_TRUE(cipher.Encrypt(in, first, 4));
    uint8_t fresh[4];
    CCipher other(nullptr, 0, 1);
    ASSERT_TRUE(other.Encrypt(in, fresh, 4));
    EXPECT_EQ(0, std::memcmp(first, fresh, 4));
}
