#pragma once
#include "Ini/CBaseIniReader.h"

#include <cstdint>
#include <map>
#include <string>

namespace Halvex {

// An ini reader whose values are stored enciphered: for key K, the entry "_K"
// holds the value's header and K the enciphered data, both written as
// hexadecimal structures by WritePrivateProfileStructW. Load deciphers every
// value whose header checks out; only deciphered values are ever returned
// (a value typed into the file by hand is cached but never answered).
class CObfuscatedIniReader : public CBaseIniReader {
public:
    CObfuscatedIniReader();
    ~CObfuscatedIniReader() override;

    bool Load(const std::wstring& path) override;
    bool GetIntValue(const std::wstring& name, int& value) override;
    bool GetStringValue(const std::wstring& name, std::wstring& value) override;
    // Every cached entry of the section, deciphered or not.
    bool GetSection(const std::wstring& section, std::map<std::wstring, std::wstring>& values) override;
    bool SetInt(const std::wstring& section, const std::wstring& key, int value) override;
    bool SetString(const std::wstring& section, const std::wstring& key, const std::wstring& value) override;
    // Sets the number as SetInt does, but writes the whole file anew, into a
    // new file beside it that then takes its place in one step: a writer that
    // ends half-way leaves the old file whole. Every line stays as it is
    // (values nobody enciphered, comments, other sections), except what a
    // writer of enciphered values left torn: a header whose value does not
    // read with it, enciphered data without its header. Temporary files that
    // an earlier writer left are removed: the callers of one file take turns.
    bool ReplaceInt(const std::wstring& section, const std::wstring& key, int value);
    bool CacheValue(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                    bool overwrite) override;

    struct Entry {
        std::wstring text;
        bool deciphered = false;
        uint32_t type = 1; // 1 text, 4 number
    };

private:
    void DecodeValue(const std::wstring& name, const std::wstring& headerText);
    bool WriteValue(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                    const uint8_t* data, size_t length, uint32_t type);
    bool IsDeciphered(const std::wstring& section, const std::wstring& key) const;

    std::map<std::wstring, std::map<std::wstring, Entry>> m_cache;
    std::map<std::wstring, std::wstring> m_pendingHeaders;
    const bool m_strict;
};

} // namespace Halvex
