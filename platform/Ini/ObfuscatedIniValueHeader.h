#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace Halvex {
namespace internal {

// The header of one enciphered ini value, stored (as a hexadecimal structure)
// under the value's key with a leading underscore. Little-endian, 36 bytes.
#pragma pack(push, 1)
struct ObfuscatedIniValueHeader {
    uint8_t magic[4];   // "CVRG"
    uint32_t version;   // 1
    uint32_t length;    // enciphered data bytes
    uint32_t type;      // kIniValueText or kIniValueNumber
    uint32_t flag;      // 1; a header whose flag is 0 is ignored
    uint8_t digest[16]; // MD5 of the enciphered data bytes
};
#pragma pack(pop)
static_assert(sizeof(ObfuscatedIniValueHeader) == 36, "the stored header is 36 bytes");

constexpr uint32_t kIniValueText = 1;   // ANSI text without its NUL
constexpr uint32_t kIniValueNumber = 4; // 32-bit number, little-endian
constexpr uint32_t kIniHeaderVersion = 1;
constexpr char kIniHeaderMagic[4] = {'C', 'V', 'R', 'G'};

// The header as a hexadecimal structure: its length and how it begins
// ("43565247" is the magic).
constexpr size_t kIniHeaderTextLength = 2 * sizeof(ObfuscatedIniValueHeader) + 2;
constexpr wchar_t kIniHeaderTextStart[] = L"43565247";

// Results of enciphering and deciphering (Win32 codes and the store's own).
constexpr uint32_t kIniCipherOk = 0;
constexpr uint32_t kIniInvalidData = 13;      // digest, length or magic wrong
constexpr uint32_t kIniInvalidParameter = 87; // output too small for enciphering
constexpr uint32_t kIniMoreData = 234;        // output too small for deciphering
constexpr uint32_t kIniEncipherFailed = 6000;
constexpr uint32_t kIniDecipherFailed = 6001;

// Reads up to `count` bytes from a hexadecimal structure of `length`
// characters, two characters a byte; a pair that is not hexadecimal is the
// byte 0. Reading stops at the end of the text: bytes it does not reach are
// left as they are. Returns the number of bytes read.
size_t ReadHexBytes(const wchar_t* text, size_t length, uint8_t* out, size_t count);

// Enciphers `length` bytes with the ini key into `output` (of `capacity`
// bytes) and fills in the header for them.
uint32_t EncipherIniValue(const uint8_t* data, size_t length, uint32_t type, uint8_t* output, size_t capacity,
                          ObfuscatedIniValueHeader& header);

// Checks `length` enciphered bytes against the header (digest, length, magic)
// and deciphers them into `output` (of `capacity` bytes).
uint32_t DecipherIniValue(const uint8_t* data, size_t length, const ObfuscatedIniValueHeader& header,
                          uint8_t* output, size_t capacity);

} // namespace internal
} // namespace Halvex
