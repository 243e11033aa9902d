#include "Registry/CCipher.h"

#include <new>
#include <utility>

namespace Halvex {
namespace internal {

CCipher::CCipher(const void* key, int keyLength, int rounds) : m_rounds(rounds > 1 ? rounds : 1)
{
    if (m_rounds <= kInlineRounds) {
        m_scratchA = m_inlineA;
        m_scratchB = m_inlineB;
    } else {
        m_heapA.reset(new (std::nothrow) uint8_t[size_t(m_rounds)]);
        m_heapB.reset(new (std::nothrow) uint8_t[size_t(m_rounds)]);
        m_scratchA = m_heapA.get();
        m_scratchB = m_heapB.get();
    }

    const uint8_t* keyBytes = static_cast<const uint8_t*>(key);
    if (!keyBytes || keyLength <= 0) {
        keyBytes = reinterpret_cast<const uint8_t*>(kCipherDefaultKey);
        keyLength = kObfuscationKeyLength;
    }

    for (int k = 0; k < 256; ++k)
        m_s[k] = uint8_t(k);
    uint8_t j = 0;
    for (int k = 0; k < 256; ++k) {
        j = uint8_t(j + keyBytes[k % keyLength] + m_s[k]);
        std::swap(m_s[k], m_s[j]);
    }
    m_i = 0;
    m_j = 0;
    m_initialFeedback = m_feedback = NextKeystreamByte();
}

uint8_t CCipher::NextKeystreamByte()
{
    m_i = uint8_t(m_i + 1);
    m_j = uint8_t(m_j + m_s[m_i]);
    std::swap(m_s[m_i], m_s[m_j]);
    return m_s[uint8_t(m_s[m_i] + m_s[m_j])];
}

bool CCipher::Encrypt(const uint8_t* input, uint8_t* output, size_t length)
{
    if (!input || !output || length == 0)
        return false;
    for (size_t n = 0; n < length; ++n) {
        const uint8_t p = input[n];
        m_feedback = uint8_t(m_feedback ^ p);
        const uint8_t a0 = NextKeystreamByte();
        const uint8_t b0 = NextKeystreamByte();
        uint8_t c = uint8_t((a0 ^ m_feedback) + b0);
        for (int r = 1; r < m_rounds; ++r) {
            const uint8_t a = NextKeystreamByte();
            const uint8_t b = NextKeystreamByte();
            c = uint8_t((c ^ a) + b);
        }
        output[n] = c;
    }
    return true;
}

bool CCipher::Decrypt(const uint8_t* input, uint8_t* output, size_t length)
{
    if (!input || !output || length == 0 || !m_scratchA || !m_scratchB)
        return false;
    for (size_t n = 0; n < length; ++n) {
        for (int r = 0; r < m_rounds; ++r) {
            m_scratchA[r] = NextKeystreamByte();
            m_scratchB[r] = NextKeystreamByte();
        }
        uint8_t c = input[n];
        for (int r = m_rounds - 1; r >= 1; --r)
            c = uint8_t(uint8_t(c - m_scratchB[r]) ^ m_scratchA[r]);
        const uint8_t p = uint8_t(m_scratchA[0] ^ m_feedback ^ uint8_t(c - m_scratchB[0]));
        output[n] = p;
        m_feedback = uint8_t(m_feedback ^ p);
    }
    return true;
}

} // namespace internal
} // namespace Halvex
