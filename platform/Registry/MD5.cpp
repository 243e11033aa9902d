#include "Registry/MD5.h"

#include <cstring>

namespace Halvex {
namespace internal {

namespace {

inline uint32_t rotl(uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t load32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline void store32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// Per-step constants: floor(abs(sin(i + 1)) * 2^32).
const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

const unsigned kShift[64] = {
    7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
    5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
    6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21,
};

} // namespace

CMD5::CMD5() { Reset(); }

void CMD5::Reset()
{
    m_state[0] = 0x67452301;
    m_state[1] = 0xefcdab89;
    m_state[2] = 0x98badcfe;
    m_state[3] = 0x10325476;
    m_bitCount = 0;
    std::memset(m_buffer, 0, sizeof(m_buffer));
}

void CMD5::Transform(const uint8_t block[64])
{
    uint32_t m[16];
    for (int k = 0; k < 16; ++k)
        m[k] = load32(block + 4 * k);

    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    for (unsigned k = 0; k < 64; ++k) {
        uint32_t f;
        unsigned g;
        if (k < 16) {
            f = (b & c) | (~b & d);
            g = k;
        } else if (k < 32) {
            f = (d & b) | (~d & c);
            g = (5 * k + 1) % 16;
        } else if (k < 48) {
            f = b ^ c ^ d;
            g = (3 * k + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * k) % 16;
        }
        const uint32_t next = b + rotl(a + f + kSine[k] + m[g], kShift[k]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
}

void CMD5::Update(const void* data, size_t length)
{
    const uint8_t* in = static_cast<const uint8_t*>(data);
    size_t used = size_t((m_bitCount / 8) % 64);
    m_bitCount += uint64_t(length) * 8;
    if (used) {
        const size_t take = length < 64 - used ? length : 64 - used;
        std::memcpy(m_buffer + used, in, take);
        used += take;
        in += take;
        length -= take;
        if (used < 64)
            return;
        Transform(m_buffer);
    }
    while (length >= 64) {
        Transform(in);
        in += 64;
        length -= 64;
    }
    if (length)
        std::memcpy(m_buffer, in, length);
}

void CMD5::Final(uint8_t digest[DigestSize])
{
    const uint64_t bits = m_bitCount;
    uint8_t pad[72] = {0x80};
    const size_t used = size_t((bits / 8) % 64);
    const size_t padLength = used < 56 ? 56 - used : 120 - used;
    Update(pad, padLength);
    uint8_t lengthBytes[8];
    store32(lengthBytes, uint32_t(bits));
    store32(lengthBytes + 4, uint32_t(bits >> 32));
    Update(lengthBytes, 8);
    for (int k = 0; k < 4; ++k)
        store32(digest + 4 * k, m_state[k]);
    Reset();
}

int ComputeMD5(const void* data, size_t length, uint8_t* digest, size_t digestSize)
{
    if (!data || length == 0 || !digest || digestSize != CMD5::DigestSize)
        return -1;
    CMD5 md5;
    md5.Update(data, length);
    md5.Final(digest);
    return 0;
}

int VerifyMD5(const void* data, size_t length, const uint8_t* digest, size_t digestSize)
{
    if (!digest)
        return -1;
    uint8_t computed[CMD5::DigestSize];
    if (ComputeMD5(data, length, computed, digestSize) != 0)
        return -1;
    return std::memcmp(computed, digest, CMD5::DigestSize) == 0 ? 0 : -1;
}

} // namespace internal
} // namespace Halvex
