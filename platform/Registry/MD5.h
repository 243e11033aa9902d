#pragma once
#include <cstddef>
#include <cstdint>

namespace Halvex {
namespace internal {

// MD5 message digest (RFC 1321), for integrity checks of stored values; not
// for anything that needs a cryptographic hash.
class CMD5 {
public:
    static constexpr size_t DigestSize = 16;

    CMD5();
    void Update(const void* data, size_t length);
    // Writes the 16-byte digest; the object starts afresh afterwards.
    void Final(uint8_t digest[DigestSize]);

private:
    void Reset();
    void Transform(const uint8_t block[64]);

    uint32_t m_state[4];
    uint64_t m_bitCount;
    uint8_t m_buffer[64];
};

// 0 on success; -1 for null data, length 0, null digest or a digest size other than 16.
int ComputeMD5(const void* data, size_t length, uint8_t* digest, size_t digestSize);

// 0 when the MD5 of the data equals the 16-byte digest; -1 when it differs or
// the arguments are bad (as for ComputeMD5).
int VerifyMD5(const void* data, size_t length, const uint8_t* digest, size_t digestSize);

} // namespace internal
} // namespace Halvex
