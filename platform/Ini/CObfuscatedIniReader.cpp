#include "Ini/CObfuscatedIniReader.h"
#include "FormatString.h"
#include "Ini/ObfuscatedIniValueHeader.h"
#include "System/AnsiText.h"

#include <windows.h>

#include <cstring>
#include <exception>
#include <vector>

namespace Halvex {

using namespace internal;

namespace {

// Text in the ANSI code page, only when it reads back as the same text.
bool toAnsi(const std::wstring& text, std::string& bytes)
{
    return ToAnsiExactly(text.data(), text.size(), bytes) == ERROR_SUCCESS;
}

// Bytes of the line "name=" and a hexadecimal structure of `bytes` bytes, as
// the system writes it (two digits a byte and two of checksum).
size_t structLineBytes(size_t nameBytes, size_t bytes)
{
    return nameBytes + 1 + 2 * bytes + 2;
}

bool fromAnsi(const uint8_t* bytes, size_t length, std::wstring& text)
{
    text.clear();
    if (length == 0)
        return true;
    const char* data = reinterpret_cast<const char*>(bytes);
    const int count = static_cast<int>(length);
    const int needed = MultiByteToWideChar(CP_THREAD_ACP, 0, data, count, nullptr, 0);
    if (needed <= 0)
        return false;
    std::vector<wchar_t> buffer(static_cast<size_t>(needed));
    const int written = MultiByteToWideChar(CP_THREAD_ACP, 0, data, count, buffer.data(), needed);
    if (written <= 0)
        return false;
    text.assign(buffer.data(), static_cast<size_t>(written));
    return true;
}

// Bytes a hexadecimal structure of `characters` characters holds, its two
// checksum characters left out. An empty or one-character text holds none
// (a naive (L - 1) / 2 of an unsigned 0 would be enormous).
size_t dataBytesOf(size_t characters)
{
    return characters == 0 ? 0 : (characters - 1) / 2;
}

} // namespace

CObfuscatedIniReader::CObfuscatedIniReader() : m_strict(true) {}

CObfuscatedIniReader::~CObfuscatedIniReader() = default;

bool CObfuscatedIniReader::Load(const std::wstring& path)
{
    try {
        m_cache.clear();
        m_pendingHeaders.clear();
        if (!CBaseIniReader::Load(path)) {
            m_pendingHeaders.clear();
            return false;
        }
        for (const auto& pending : m_pendingHeaders)
            DecodeValue(pending.first, pending.second);
        m_pendingHeaders.clear();
        return true;
    } catch (const std::exception&) {
        m_pendingHeaders.clear();
        return false;
    }
}

bool CObfuscatedIniReader::CacheValue(const std::wstring& section, const std::wstring& key,
                                      const std::wstring& value, bool overwrite)
{
    auto found = m_cache.find(section);
    if (found != m_cache.end() && !overwrite && found->second.count(key) != 0)
        return false;

    if (!key.empty() && key[0] == L'_' && value.size() == kIniHeaderTextLength &&
        value.compare(0, wcslen(kIniHeaderTextStart), kIniHeaderTextStart) == 0) {
        m_pendingHeaders[section + L"." + key.substr(1)] = value;
        return false;
    }

    Entry& entry = m_cache[section][key];
    entry.text = value;
    entry.deciphered = false;
    entry.type = kIniValueText;
    return true;
}

void CObfuscatedIniReader::DecodeValue(const std::wstring& name, const std::wstring& headerText)
{
    std::wstring section, key;
    if (!SplitName(name, section, key))
        return;
    auto sectionEntry = m_cache.find(section);
    if (sectionEntry == m_cache.end())
        return;
    auto keyEntry = sectionEntry->second.find(key);
    if (keyEntry == sectionEntry->second.end())
        return;
    Entry& entry = keyEntry->second;

    ObfuscatedIniValueHeader header;
    std::memset(&header, 0, sizeof(header));
    ReadHexBytes(headerText.data(), headerText.size(), reinterpret_cast<uint8_t*>(&header), sizeof(header));
    if (std::memcmp(header.magic, kIniHeaderMagic, sizeof(header.magic)) != 0 ||
        header.version != kIniHeaderVersion || header.flag == 0)
        return;

    if (header.type == kIniValueText) {
        const size_t available = dataBytesOf(entry.text.size());
        // An empty value holds no data, and a text never enciphers to none.
        if (available == 0)
            return;
        std::vector<uint8_t> data(available);
        ReadHexBytes(entry.text.data(), entry.text.size(), data.data(), data.size());
        std::vector<uint8_t> plain(available);
        if (DecipherIniValue(data.data(), data.size(), header, plain.data(), plain.size()) != kIniCipherOk)
            return;
        std::wstring text;
        if (!fromAnsi(plain.data(), plain.size(), text))
            return;
        entry.text = text;
        entry.deciphered = true;
        entry.type = kIniValueText;
    } else if (header.type == kIniValueNumber) {
        uint8_t data[4] = {};
        // The four bytes are read whether or not the checksum follows; a
        // text too short to hold them is no number.
        if (entry.text.size() < 2 * sizeof(data))
            return;
        ReadHexBytes(entry.text.data(), entry.text.size(), data, sizeof(data));
        uint8_t plain[4] = {};
        if (DecipherIniValue(data, sizeof(data), header, plain, sizeof(plain)) != kIniCipherOk)
            return;
        int32_t number = 0;
        std::memcpy(&number, plain, sizeof(number));
        entry.text = FormatString(L"%d", number);
        entry.deciphered = true;
        entry.type = kIniValueNumber;
    }
}

bool CObfuscatedIniReader::GetStringValue(const std::wstring& name, std::wstring& value)
{
    try {
        std::wstring section, key;
        if (!SplitName(name, section, key))
            return false;
        auto sectionEntry = m_cache.find(section);
        if (sectionEntry == m_cache.end())
            return false;
        auto keyEntry = sectionEntry->second.find(key);
        if (keyEntry == sectionEntry->second.end())
            return false;
        if (m_strict && !keyEntry->second.deciphered)
            return false;
        value = keyEntry->second.text;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool CObfuscatedIniReader::GetIntValue(const std::wstring& name, int& value)
{
    std::wstring text;
    if (!GetStringValue(name, text))
        return false;
    value = static_cast<int>(_wtol(text.c_str()));
    return true;
}

bool CObfuscatedIniReader::GetSection(const std::wstring& section, std::map<std::wstring, std::wstring>& values)
{
    try {
        auto sectionEntry = m_cache.find(section);
        if (sectionEntry == m_cache.end())
            return false;
        for (const auto& entry : sectionEntry->second)
            values[entry.first] = entry.second.text;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool CObfuscatedIniReader::WriteValue(const std::wstring& path, const std::wstring& section,
                                      const std::wstring& key, const uint8_t* data, size_t length, uint32_t type)
{
    // The file is in the ANSI code page, and the reader takes a line in
    // pieces of kLongestLine bytes: a name the code page cannot hold would
    // be stored as another, and a longer line could never be read back.
    // Either way nothing is written.
    std::string ansiSection, ansiKey;
    if (!toAnsi(section, ansiSection) || !toAnsi(key, ansiKey))
        return false;
    if (ansiSection.size() + 2 > kLongestLine ||
        structLineBytes(ansiKey.size() + 1, sizeof(ObfuscatedIniValueHeader)) > kLongestLine ||
        structLineBytes(ansiKey.size(), length) > kLongestLine)
        return false;

    std::vector<uint8_t> enciphered(length);
    ObfuscatedIniValueHeader header;
    std::memset(&header, 0, sizeof(header));
    if (EncipherIniValue(data, length, type, enciphered.data(), enciphered.size(), header) != kIniCipherOk)
        return false;
    const std::wstring headerKey = L"_" + key;
    if (!WritePrivateProfileStructW(section.c_str(), headerKey.c_str(), &header, sizeof(header), path.c_str()))
        return false;
    return WritePrivateProfileStructW(section.c_str(), key.c_str(), enciphered.data(),
                                      static_cast<UINT>(enciphered.size()), path.c_str()) != FALSE;
}

bool CObfuscatedIniReader::SetString(const std::wstring& section, const std::wstring& key,
                                     const std::wstring& value)
{
    try {
        // Without a file the system's functions would write to one of their
        // own choosing in the Windows folder.
        if (m_fileName.empty())
            return false;
        // A text the code page cannot hold would read back as another.
        std::string bytes;
        if (!toAnsi(value, bytes))
            return false;
        if (!WriteValue(m_fileName, section, key, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                        kIniValueText))
            return false;
        Entry& entry = m_cache[section][key];
        entry.text = value;
        entry.deciphered = true;
        entry.type = kIniValueText;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool CObfuscatedIniReader::SetInt(const std::wstring& section, const std::wstring& key, int value)
{
    try {
        if (m_fileName.empty())
            return false;
        const int32_t number = value;
        uint8_t bytes[4];
        std::memcpy(bytes, &number, sizeof(bytes));
        if (!WriteValue(m_fileName, section, key, bytes, sizeof(bytes), kIniValueNumber))
            return false;
        Entry& entry = m_cache[section][key];
        entry.text = FormatString(L"%d", value);
        entry.deciphered = true;
        entry.type = kIniValueNumber;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool CObfuscatedIniReader::WriteEntry(const std::wstring& path, const std::wstring& section,
                                      const std::wstring& key, const Entry& entry)
{
    if (entry.type == kIniValueNumber) {
        const int32_t number = static_cast<int32_t>(_wtol(entry.text.c_str()));
        uint8_t bytes[4];
        std::memcpy(bytes, &number, sizeof(bytes));
        return WriteValue(path, section, key, bytes, sizeof(bytes), kIniValueNumber);
    }
    std::string bytes;
    return toAnsi(entry.text, bytes) &&
           WriteValue(path, section, key, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                      kIniValueText);
}

bool CObfuscatedIniReader::ReplaceInt(const std::wstring& section, const std::wstring& key, int value)
{
    try {
        if (m_fileName.empty())
            return false;
        std::map<std::wstring, std::map<std::wstring, Entry>> whole;
        for (const auto& cached : m_cache)
            for (const auto& entry : cached.second)
                if (entry.second.deciphered)
                    whole[cached.first][entry.first] = entry.second;
        Entry& set = whole[section][key];
        set.text = FormatString(L"%d", value);
        set.deciphered = true;
        set.type = kIniValueNumber;

        // Beside the file, on its volume, so that the move is a rename; named
        // after the writer, so that two writers never share one.
        const std::wstring fresh = m_fileName + FormatString(L".%lu-%lu.tmp", GetCurrentProcessId(),
                                                             GetCurrentThreadId());
        DeleteFileW(fresh.c_str());
        bool written = true;
        for (const auto& cached : whole)
            for (const auto& entry : cached.second)
                written = written && WriteEntry(fresh, cached.first, entry.first, entry.second);
        if (!written ||
            !MoveFileExW(fresh.c_str(), m_fileName.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            DeleteFileW(fresh.c_str());
            return false;
        }
        m_cache.swap(whole);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace Halvex
