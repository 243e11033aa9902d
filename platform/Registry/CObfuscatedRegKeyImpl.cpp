#include "Registry/CObfuscatedRegKeyImpl.h"

#include "Registry/CCipher.h"
#include "Registry/MD5.h"
#include "System/AnsiText.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace Halvex {

namespace {

constexpr uint8_t kMagic[4] = {'C', 'V', 'R', 'G'};
constexpr uint32_t kVersion = 1;
constexpr size_t kDigestOffset = 16;
constexpr DWORD kRawGuess = 256;
// Plaintexts up to this size are deciphered on the stack.
constexpr DWORD kStackPlaintext = 1008;

void put32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

uint32_t get32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// The value name in the thread's ANSI code page; a null name (the default
// value) stays null. A name the code page cannot hold is refused (1113):
// two such names would both be stored as one value "?".
LONG ansiName(LPCWSTR name, std::string& buffer, const char*& out)
{
    out = nullptr;
    if (!name)
        return ERROR_SUCCESS;
    const LONG error = LONG(internal::ToAnsiExactly(name, wcslen(name), buffer));
    if (error != ERROR_SUCCESS)
        return error;
    out = buffer.c_str();
    return ERROR_SUCCESS;
}

LONG appendUtf8(const wchar_t* text, size_t chars, std::string& out)
{
    if (chars == 0)
        return ERROR_SUCCESS;
    if (chars > size_t(INT_MAX))
        return ERROR_INVALID_PARAMETER;
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text, int(chars), nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return LONG(GetLastError());
    const size_t at = out.size();
    out.resize(at + size_t(needed));
    if (WideCharToMultiByte(CP_UTF8, 0, text, int(chars), &out[at], needed, nullptr, nullptr) <= 0)
        return LONG(GetLastError());
    return ERROR_SUCCESS;
}

LONG appendWide(const uint8_t* text, size_t bytes, std::wstring& out)
{
    if (bytes == 0)
        return ERROR_SUCCESS;
    if (bytes > size_t(INT_MAX))
        return ERROR_INVALID_DATA;
    const char* source = reinterpret_cast<const char*>(text);
    const int needed = MultiByteToWideChar(CP_UTF8, 0, source, int(bytes), nullptr, 0);
    if (needed <= 0)
        return LONG(GetLastError());
    const size_t at = out.size();
    out.resize(at + size_t(needed));
    if (MultiByteToWideChar(CP_UTF8, 0, source, int(bytes), &out[at], needed) <= 0)
        return LONG(GetLastError());
    return ERROR_SUCCESS;
}

// Length of the NUL-terminated text at the start of bytes, never past them.
size_t boundedLength(const uint8_t* bytes, size_t size)
{
    const void* nul = std::memchr(bytes, 0, size);
    return nul ? size_t(static_cast<const uint8_t*>(nul) - bytes) : size;
}

// The plaintext of a value: the registry's caller hands bytes of any
// alignment, so wide text is copied out before it is read.
LONG buildPayload(DWORD type, const void* data, DWORD byteSize, std::string& payload)
{
    if (type != REG_SZ && type != REG_MULTI_SZ) {
        payload.assign(static_cast<const char*>(data), byteSize);
        return ERROR_SUCCESS;
    }
    const size_t chars = byteSize / sizeof(wchar_t);
    std::wstring wide(chars, L'\0');
    if (chars)
        std::memcpy(&wide[0], data, chars * sizeof(wchar_t));

    if (type == REG_SZ) {
        // Up to the text's NUL, and never past the bytes the caller gave.
        const size_t end = wide.find(L'\0');
        const LONG error = appendUtf8(wide.data(), end == std::wstring::npos ? chars : end, payload);
        if (error != ERROR_SUCCESS)
            return error;
        payload.push_back('\0');
        return ERROR_SUCCESS;
    }

    size_t at = 0;
    while (at < chars) {
        const size_t end = wide.find(L'\0', at);
        const size_t length = (end == std::wstring::npos ? chars : end) - at;
        if (length == 0)
            break;
        const LONG error = appendUtf8(wide.data() + at, length, payload);
        if (error != ERROR_SUCCESS)
            return error;
        payload.push_back('\0');
        at += length + 1;
    }
    payload.push_back('\0');
    return ERROR_SUCCESS;
}

} // namespace

LONG CObfuscatedRegKeyImpl::SetValue(LPCWSTR valueName, DWORD type, const void* data, DWORD byteSize)
{
    if (!data || byteSize == 0)
        return ERROR_INVALID_PARAMETER;

    std::string nameBuffer, payload;
    const char* name = nullptr;
    try {
        LONG error = ansiName(valueName, nameBuffer, name);
        if (error != ERROR_SUCCESS)
            return error;
        error = buildPayload(type, data, byteSize, payload);
        if (error != ERROR_SUCCESS)
            return error;
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }

    if (payload.size() > size_t(MAXDWORD - kHeaderSize))
        return ERROR_NOT_ENOUGH_MEMORY;
    const DWORD n = DWORD(payload.size());
    std::vector<uint8_t> blob;
    try {
        blob.assign(size_t(n) + kHeaderSize, 0);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }

    internal::CCipher cipher(internal::kObfuscatedRegistryKey, internal::kObfuscationKeyLength, 1);
    if (!cipher.Encrypt(reinterpret_cast<const uint8_t*>(payload.data()), blob.data() + kHeaderSize, n))
        return kEncodeFailed;
    std::memcpy(blob.data(), kMagic, 4);
    put32(blob.data() + 4, kVersion);
    put32(blob.data() + 8, n);
    put32(blob.data() + 12, type);
    uint8_t digest[internal::CMD5::DigestSize];
    if (internal::ComputeMD5(blob.data(), blob.size(), digest, sizeof(digest)) != 0)
        return kEncodeFailed;
    std::memcpy(blob.data() + kDigestOffset, digest, sizeof(digest));

    return RegSetValueExA(m_handle, name, 0, REG_BINARY, blob.data(), DWORD(blob.size()));
}

LONG CObfuscatedRegKeyImpl::ReadBlob(const char* name, DWORD* valueType, uint8_t* data, DWORD* byteSize)
{
    *valueType = 0;
    std::vector<uint8_t> raw;
    DWORD rawType = 0;
    DWORD size = kRawGuess;
    LONG error;
    try {
        raw.resize(kRawGuess);
        error = RegQueryValueExA(m_handle, name, nullptr, &rawType, raw.data(), &size);
        if (error == ERROR_MORE_DATA) {
            raw.resize(size);
            size = DWORD(raw.size());
            error = RegQueryValueExA(m_handle, name, nullptr, &rawType, raw.data(), &size);
        }
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    if (error != ERROR_SUCCESS)
        return error;
    if (rawType != REG_BINARY || size < kHeaderSize || size > raw.size())
        return ERROR_INVALID_DATA;

    uint8_t stored[internal::CMD5::DigestSize];
    std::memcpy(stored, raw.data() + kDigestOffset, sizeof(stored));
    std::memset(raw.data() + kDigestOffset, 0, sizeof(stored));
    if (internal::VerifyMD5(raw.data(), size, stored, sizeof(stored)) != 0)
        return ERROR_INVALID_DATA;
    const uint32_t n = get32(raw.data() + 8);
    if (size - kHeaderSize != n)
        return ERROR_INVALID_DATA;
    if (std::memcmp(raw.data(), kMagic, 4) != 0)
        return ERROR_INVALID_DATA;

    *valueType = get32(raw.data() + 12);
    if (!byteSize)
        return ERROR_SUCCESS;
    if (data) {
        if (*byteSize < n) {
            *byteSize = n;
            return ERROR_MORE_DATA;
        }
        internal::CCipher cipher(internal::kObfuscatedRegistryKey, internal::kObfuscationKeyLength, 1);
        if (!cipher.Decrypt(raw.data() + kHeaderSize, data, n))
            return kDecodeFailed;
    }
    *byteSize = n;
    return ERROR_SUCCESS;
}

LONG CObfuscatedRegKeyImpl::QueryValue(LPCWSTR valueName, DWORD* type, void* data, DWORD* byteSize)
{
    if (!byteSize && !type)
        return ERROR_INVALID_PARAMETER;
    try {
        std::string nameBuffer;
        const char* name = nullptr;
        LONG error = ansiName(valueName, nameBuffer, name);
        if (error != ERROR_SUCCESS) {
            if (type)
                *type = 0;
            return error;
        }

        // The first read checks the blob and learns its type and length.
        DWORD valueType = 0;
        DWORD n = 0;
        error = ReadBlob(name, &valueType, nullptr, &n);
        if (type)
            *type = error == ERROR_SUCCESS ? valueType : 0;
        if (error != ERROR_SUCCESS || !byteSize)
            return error;

        uint8_t onStack[kStackPlaintext];
        std::unique_ptr<uint8_t[]> onHeap;
        uint8_t* plain = onStack;
        if (n > kStackPlaintext) {
            onHeap.reset(new (std::nothrow) uint8_t[n]);
            if (!onHeap)
                return ERROR_OUTOFMEMORY;
            plain = onHeap.get();
        }
        std::memset(plain, 0, n);
        // The value may have been rewritten in between: what the second read
        // finds is what is returned.
        error = ReadBlob(name, &valueType, plain, &n);
        if (error != ERROR_SUCCESS)
            return error;
        if (type)
            *type = valueType;

        if (valueType == REG_SZ || valueType == REG_MULTI_SZ) {
            std::wstring wide;
            if (valueType == REG_SZ) {
                error = appendWide(plain, boundedLength(plain, n), wide);
                if (error != ERROR_SUCCESS)
                    return error;
                wide.push_back(L'\0');
            } else {
                size_t at = 0;
                while (at < n && plain[at] != 0) {
                    const size_t length = boundedLength(plain + at, n - at);
                    error = appendWide(plain + at, length, wide);
                    if (error != ERROR_SUCCESS)
                        return error;
                    wide.push_back(L'\0');
                    at += length + 1;
                }
                wide.push_back(L'\0');
            }
            if (wide.size() > MAXDWORD / sizeof(wchar_t))
                return ERROR_INVALID_DATA;
            const DWORD needed = DWORD(wide.size() * sizeof(wchar_t));
            if (!data) {
                *byteSize = needed;
                return ERROR_SUCCESS;
            }
            if (*byteSize < needed) {
                // A multi-string that does not fit leaves no partial list behind.
                if (valueType == REG_MULTI_SZ)
                    std::memset(data, 0, *byteSize);
                *byteSize = needed;
                return ERROR_MORE_DATA;
            }
            std::memcpy(data, wide.data(), needed);
            *byteSize = needed;
            return ERROR_SUCCESS;
        }

        if (data) {
            if (*byteSize < n) {
                *byteSize = n;
                return ERROR_MORE_DATA;
            }
            std::memcpy(data, plain, n);
        }
        *byteSize = n;
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

} // namespace Halvex
