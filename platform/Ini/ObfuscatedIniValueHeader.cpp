#include "Ini/ObfuscatedIniValueHeader.h"
#include "Registry/CCipher.h"
#include "Registry/MD5.h"

#include <cstring>

namespace Halvex {
namespace internal {

namespace {

int hexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

} // namespace

size_t ReadHexBytes(const wchar_t* text, size_t length, uint8_t* out, size_t count)
{
    if (text == nullptr || out == nullptr)
        return 0;
    size_t k = 0;
    for (; k < count && 2 * k + 1 < length; ++k) {
        const int high = hexDigit(text[2 * k]);
        const int low = hexDigit(text[2 * k + 1]);
        out[k] = (high < 0 || low < 0) ? 0 : static_cast<uint8_t>(high * 16 + low);
    }
    return k;
}

uint32_t EncipherIniValue(const uint8_t* data, size_t length, uint32_t type, uint8_t* output, size_t capacity,
                          ObfuscatedIniValueHeader& header)
{
    if (output == nullptr || capacity < length)
        return kIniInvalidParameter;
    CCipher cipher(kObfuscatedIniKey, kObfuscationKeyLength, 1);
    if (!cipher.Encrypt(data, output, length))
        return kIniEncipherFailed;
    std::memcpy(header.magic, kIniHeaderMagic, sizeof(header.magic));
    header.version = kIniHeaderVersion;
    header.length = static_cast<uint32_t>(length);
    header.type = type;
    header.flag = 1;
    if (ComputeMD5(output, length, header.digest, sizeof(header.digest)) != 0)
        return kIniEncipherFailed;
    return kIniCipherOk;
}

uint32_t DecipherIniValue(const uint8_t* data, size_t length, const ObfuscatedIniValueHeader& header,
                          uint8_t* output, size_t capacity)
{
    if (VerifyMD5(data, length, header.digest, sizeof(header.digest)) != 0 || length != header.length ||
        std::memcmp(header.magic, kIniHeaderMagic, sizeof(header.magic)) != 0)
        return kIniInvalidData;
    if (output == nullptr || capacity < length)
        return kIniMoreData;
    CCipher cipher(kObfuscatedIniKey, kObfuscationKeyLength, 1);
    if (!cipher.Decrypt(data, output, length))
        return kIniDecipherFailed;
    return kIniCipherOk;
}

} // namespace internal
} // namespace Halvex
