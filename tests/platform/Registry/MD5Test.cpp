#include "Registry/MD5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace Halvex::internal;

namespace {

std::string hex(const uint8_t* bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t k = 0; k < n; ++k) {
        text += digits[bytes[k] >> 4];
        text += digits[bytes[k] & 15];
    }
    return text;
}

struct Vector {
    const char* message;
    const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
const Vector kRfc1321[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

} // namespace

TEST(MD5, MatchesTheRfc1321Vectors)
{
    for (const Vector& v : kRfc1321) {
        SCOPED_TRACE(v.message);
        const size_t length = std::strlen(v.message);
        uint8_t digest[16] = {};
        if (length == 0) {
            // The flat function refuses empty data; the context still digests it.
            EXPECT_EQ(-1, ComputeMD5(v.message, 0, digest, 16));
            CMD5 md5;
            md5.Update(v.message, 0);
            md5.Final(digest);
        } else {
            ASSERT_EQ(0, ComputeMD5(v.message, length, digest, 16));
            EXPECT_EQ(0, VerifyMD5(v.message, length, digest, 16));
        }
        EXPECT_EQ(v.digest, hex(digest, 16));
    }
}

TEST(MD5, PiecewiseUpdatesGiveTheSameDigestAcrossBlockBoundaries)
{
    std::string data;
    for (int k = 0; k < 1000; ++k)
        data += char(k * 7 + 3);
    uint8_t whole[16];
    ASSERT_EQ(0, ComputeMD5(data.data(), data.size(), whole, 16));
    for (size_t step : {1u, 3u, 55u, 56u, 63u, 64u, 65u, 200u}) {
        SCOPED_TRACE(step);
        CMD5 md5;
        for (size_t at = 0; at < data.size(); at += step)
            md5.Update(data.data() + at, std::min(step, data.size() - at));
        uint8_t pieces[16];
        md5.Final(pieces);
        EXPECT_EQ(0, std::memcmp(whole, pieces, 16));
    }
}

TEST(MD5, RefusesBadArgumentsAndADifferentDigest)
{
    const char data[] = "abc";
    uint8_t digest[16] = {};
    EXPECT_EQ(-1, ComputeMD5(nullptr, 3, digest, 16));
    EXPECT_EQ(-1, ComputeMD5(data, 0, digest, 16));
    EXPECT_EQ(-1, ComputeMD5(data, 3, nullptr, 16));
    EXPECT_EQ(-1, ComputeMD5(data, 3, digest, 15));
    EXPECT_EQ(-1, ComputeMD5(data, 3, digest, 17));

    ASSERT_EQ(0, ComputeMD5(data, 3, digest, 16));
    EXPECT_EQ(-1, VerifyMD5(nullptr, 3, digest, 16));
    EXPECT_EQ(-1, VerifyMD5(data, 0, digest, 16));
    EXPECT_EQ(-1, VerifyMD5(data, 3, nullptr, 16));
    EXPECT_EQ(-1, VerifyMD5(data, 3, digest, 8));
    EXPECT_EQ(-1, VerifyMD5(data, 2, digest, 16));
    for (int k = 0; k < 16; ++k) {
        uint8_t changed[16];
        std::memcpy(changed, digest, 16);
        changed[k] ^= 0x01;
        EXPECT_EQ(-1, VerifyMD5(data, 3, changed, 16)) << k;
    }
}
