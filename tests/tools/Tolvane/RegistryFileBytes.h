#pragma once
#include <string>

namespace TolvaneTests {

// The bytes of wide text as UTF-16LE, without a byte-order mark.
inline std::string utf16le(const std::wstring& text)
{
    std::string bytes;
    for (wchar_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
    }
    return bytes;
}

// A registry file as the registrar writes it: the mark FF FE, then the text.
inline std::string registryFile(const std::wstring& text) { return "\xFF\xFE" + utf16le(text); }

} // namespace TolvaneTests
