#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace Halvex {

// Reads an ini file line by line into the cache of a derived class, which
// owns the cache and the encoding of values. Values are addressed as
// section + "." + key; section, key and value compare exactly (case matters).
// Nothing throws on bad file content.
class CBaseIniReader {
public:
    CBaseIniReader() = default;
    virtual ~CBaseIniReader() = default;
    CBaseIniReader(const CBaseIniReader&) = delete;
    CBaseIniReader& operator=(const CBaseIniReader&) = delete;

    // Reads the whole file. A missing file answers false but keeps the name,
    // so that a later write creates it.
    virtual bool Load(const std::wstring& path);
    virtual bool GetInt(const std::wstring& section, const std::wstring& key, int& value);
    virtual bool GetString(const std::wstring& section, const std::wstring& key, std::wstring& value);
    // name: section + "." + key (split at the first ".").
    virtual bool GetIntValue(const std::wstring& name, int& value) = 0;
    virtual bool GetStringValue(const std::wstring& name, std::wstring& value) = 0;
    // Copies the text of every cached entry of the section into `values`.
    virtual bool GetSection(const std::wstring& section, std::map<std::wstring, std::wstring>& values) = 0;
    virtual bool SetInt(const std::wstring& section, const std::wstring& key, int value);
    virtual bool SetString(const std::wstring& section, const std::wstring& key, const std::wstring& value);
    // Stores one line's value; true when it was stored as an entry.
    virtual bool CacheValue(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                            bool overwrite) = 0;
    // One line of the file in the thread's ANSI code page.
    virtual void ParseLine(const char* line);

    // Load reads a line in pieces of at most this many bytes, each parsed as
    // a line of its own.
    static constexpr size_t kLongestLine = 1023;

    const std::wstring& FileName() const { return m_fileName; }
    uint32_t EntryCount() const { return m_entryCount; }
    uint32_t SectionCount() const { return m_sectionCount; }

protected:
    // Splits section + "." + key at its first "."; false without one.
    static bool SplitName(const std::wstring& name, std::wstring& section, std::wstring& key);

    std::wstring m_fileName;
    std::wstring m_currentSection;
    uint32_t m_entryCount = 0;
    uint32_t m_sectionCount = 0;
};

} // namespace Halvex
