#pragma once
#include "Registry/CRegKeyImpl.h"

#include <cstdint>

namespace Halvex {

// Stores every value, whatever its type, as one REG_BINARY blob:
//   0 "CVRG", 4 version (1), 8 payload length n, 12 the caller's REG_* type,
//   16 MD5 of all n + 32 bytes taken with these 16 bytes zero, 32 payload,
// the payload enciphered (CCipher, registry key, one round). REG_SZ travels
// as UTF-8 with its NUL, REG_MULTI_SZ as UTF-8 strings each with its NUL
// plus a final NUL, every other type as the caller's bytes. Value names go
// through the thread's ANSI code page. Every typed operation of the base
// reads through QueryValue and writes through SetValue, so all of them use
// the blob.
class CObfuscatedRegKeyImpl : public internal::CRegKeyImpl {
public:
    // Codes of a failed encipherment or decipherment.
    static constexpr LONG kEncodeFailed = 6000;
    static constexpr LONG kDecodeFailed = 6001;
    static constexpr uint32_t kHeaderSize = 32;

    LONG QueryValue(LPCWSTR valueName, DWORD* type, void* data, DWORD* byteSize) override;
    LONG SetValue(LPCWSTR valueName, DWORD type, const void* data, DWORD byteSize) override;

private:
    // Reads and checks the stored blob: reports the stored type and, when
    // asked, the payload length; deciphers into data when one is given.
    LONG ReadBlob(const char* name, DWORD* valueType, uint8_t* data, DWORD* byteSize);
};

} // namespace Halvex
