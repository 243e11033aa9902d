#include "Ini/CObfuscatedIniReader.h"
#include "FormatString.h"
#include "Ini/ObfuscatedIniValueHeader.h"
#include "System/AnsiText.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <cwctype>
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

std::wstring trimmed(const std::wstring& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && iswspace(text[begin]))
        ++begin;
    while (end > begin && iswspace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// The file's lines as they are, without their line ends; none when there is
// no file. False when it cannot be read.
bool readLines(const std::wstring& path, std::vector<std::string>& lines)
{
    lines.clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof(buffer), &read, nullptr) != FALSE) && read != 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    if (!ok)
        return false;
    size_t begin = 0;
    while (begin < bytes.size()) {
        size_t end = bytes.find('\n', begin);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        begin = end + 1;
    }
    return true;
}

bool writeWholeFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = bytes.empty() ||
                    (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                     written == bytes.size());
    CloseHandle(file);
    return ok;
}

// A value as WritePrivateProfileStructW writes a structure of at least four
// bytes: pairs of hexadecimal digits, the last pair the sum of the others.
bool isWrittenStructure(const std::wstring& text)
{
    if (text.size() < 10 || text.size() % 2 != 0)
        return false;
    unsigned sum = 0, pair = 0;
    for (size_t at = 0; at < text.size(); at += 2) {
        if (!iswxdigit(text[at]) || !iswxdigit(text[at + 1]))
            return false;
        pair = static_cast<unsigned>(std::wcstoul(text.substr(at, 2).c_str(), nullptr, 16));
        if (at + 2 < text.size())
            sum += pair;
    }
    return (sum & 0xFF) == pair;
}

// Temporary files of ReplaceInt ("<file>.<process>-<thread>.tmp") that a
// writer which ended half-way left behind.
void removeLeftTemporaries(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
    const std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L".*-*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring candidate = found.cFileName;
        if (candidate.size() <= name.size() + 5 || candidate.compare(0, name.size() + 1, name + L".") != 0 ||
            candidate.compare(candidate.size() - 4, 4, L".tmp") != 0)
            continue;
        const std::wstring ids = candidate.substr(name.size() + 1, candidate.size() - name.size() - 5);
        const size_t dash = ids.find(L'-');
        if (dash == 0 || dash == std::wstring::npos || dash + 1 == ids.size() ||
            ids.find_first_not_of(L"0123456789-") != std::wstring::npos || ids.find(L'-', dash + 1) != std::wstring::npos)
            continue;
        DeleteFileW((folder + candidate).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
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

bool CObfuscatedIniReader::IsDeciphered(const std::wstring& section, const std::wstring& key) const
{
    const auto sectionEntry = m_cache.find(section);
    if (sectionEntry == m_cache.end())
        return false;
    const auto keyEntry = sectionEntry->second.find(key);
    return keyEntry != sectionEntry->second.end() && keyEntry->second.deciphered;
}

bool CObfuscatedIniReader::ReplaceInt(const std::wstring& section, const std::wstring& key, int value)
{
    try {
        if (m_fileName.empty())
            return false;
        // Every line is judged by what the file holds now.
        CObfuscatedIniReader current;
        current.Load(m_fileName);
        std::vector<std::string> lines;
        if (!readLines(m_fileName, lines))
            return false;
        std::string kept;
        std::wstring inSection;
        for (const std::string& line : lines) {
            std::wstring text;
            if (!fromAnsi(reinterpret_cast<const uint8_t*>(line.data()), line.size(), text))
                text.clear();
            text = trimmed(text);
            const size_t equals = text.find(L'=');
            if (!text.empty() && text.front() == L'[' && text.back() == L']') {
                const std::wstring name = trimmed(text.substr(1, text.size() - 2));
                if (!name.empty())
                    inSection = name;
            } else if (!text.empty() && text.front() != L';' && equals != std::wstring::npos) {
                const std::wstring name = trimmed(text.substr(0, equals));
                const std::wstring data = trimmed(text.substr(equals + 1));
                if (inSection == section && (name == key || name == L"_" + key))
                    continue;
                // What a writer of enciphered values left torn: a header
                // whose value does not read with it, or enciphered data that
                // lost its header. Everything else is kept as it is.
                const bool header = name.size() > 1 && name.front() == L'_' &&
                                    data.compare(0, wcslen(kIniHeaderTextStart), kIniHeaderTextStart) == 0;
                if (header ? !(data.size() == kIniHeaderTextLength && current.IsDeciphered(inSection, name.substr(1)))
                           : !current.IsDeciphered(inSection, name) && isWrittenStructure(data))
                    continue;
            }
            kept += line;
            kept += "\r\n";
        }

        removeLeftTemporaries(m_fileName);
        // Beside the file, on its volume, so that the move is a rename; named
        // after the writer, so that two writers never share one.
        const std::wstring fresh = m_fileName + FormatString(L".%lu-%lu.tmp", GetCurrentProcessId(),
                                                             GetCurrentThreadId());
        DeleteFileW(fresh.c_str());
        const int32_t number = value;
        uint8_t bytes[4];
        std::memcpy(bytes, &number, sizeof(bytes));
        if (!writeWholeFile(fresh, kept) || !WriteValue(fresh, section, key, bytes, sizeof(bytes), kIniValueNumber) ||
            !MoveFileExW(fresh.c_str(), m_fileName.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            DeleteFileW(fresh.c_str());
            return false;
        }
        const std::wstring path = m_fileName;
        Load(path);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace Halvex
