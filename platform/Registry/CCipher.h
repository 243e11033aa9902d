#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace Halvex {
namespace internal {

// The keys of the obfuscated stores, used as their 38 ASCII bytes (no NUL).
constexpr char kObfuscatedRegistryKey[] = "{3B9F1C52-6A0D-4f7e-8C21-5E7A90D4B6F3}";
constexpr char kObfuscatedIniKey[] = "{A41C7E09-2D5B-4c83-9F6E-0B8D27C5E1A4}";
constexpr char kCipherDefaultKey[] = "{5E2D9B71-C4A8-4e16-B3F0-7D61A28E9C05}";
constexpr int kObfuscationKeyLength = 38;

// RC4 keystream mixed with a plaintext feedback byte. Made afresh for every
// value: the keystream runs on across the calls of one object.
class CCipher {
public:
    // A null key or a length of 0 or less selects the default key; rounds
    // below 2 mean one round.
    CCipher(const void* key, int keyLength, int rounds = 1);
    CCipher(const CCipher&) = delete;
    CCipher& operator=(const CCipher&) = delete;

    // Input and output have the same length; false (nothing done) for null
    // buffers or length 0.
    bool Encrypt(const uint8_t* input, uint8_t* output, size_t length);
    bool Decrypt(const uint8_t* input, uint8_t* output, size_t length);

    int Rounds() const { return m_rounds; }

private:
    static constexpr int kInlineRounds = 5;

    uint8_t NextKeystreamByte();

    uint8_t m_i = 0;
    uint8_t m_j = 0;
    uint8_t m_s[256];
    int m_rounds;
    uint8_t m_inlineA[kInlineRounds];
    uint8_t m_inlineB[kInlineRounds];
    std::unique_ptr<uint8_t[]> m_heapA;
    std::unique_ptr<uint8_t[]> m_heapB;
    uint8_t* m_scratchA = nullptr;
    uint8_t* m_scratchB = nullptr;
    uint8_t m_initialFeedback = 0;
    uint8_t m_feedback = 0;
};

} // namespace internal
} // namespace Halvex
