#include "Ini/CBaseIniReader.h"
#include "FormatString.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cwctype>
#include <exception>
#include <memory>
#include <vector>

namespace Halvex {

namespace {

// fgets' buffer: a longer line arrives in pieces of up to 1023 bytes, each
// taken as a line of its own.
const int kLineBufferSize = int(CBaseIniReader::kLongestLine) + 1;

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};
using FilePointer = std::unique_ptr<FILE, FileCloser>;

std::wstring fromAnsi(const char* text)
{
    const int needed = MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, nullptr, 0);
    if (needed <= 1)
        return {};
    std::vector<wchar_t> buffer(static_cast<size_t>(needed));
    const int written = MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, buffer.data(), needed);
    if (written <= 1)
        return {};
    return std::wstring(buffer.data(), static_cast<size_t>(written - 1));
}

std::wstring trim(const std::wstring& text)
{
    size_t first = 0;
    size_t last = text.size();
    while (first < last && std::iswspace(text[first]))
        ++first;
    while (last > first && std::iswspace(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

// The private-profile functions take a name without a folder as one in the
// Windows folder, while the file was read relative to the current folder;
// a full path makes reads and writes meet in one file.
std::wstring fullPath(const std::wstring& path)
{
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return path;
    std::vector<wchar_t> buffer(needed);
    const DWORD length = GetFullPathNameW(path.c_str(), needed, buffer.data(), nullptr);
    if (length == 0 || length >= needed)
        return path;
    return std::wstring(buffer.data(), length);
}

} // namespace

bool CBaseIniReader::Load(const std::wstring& path)
{
    try {
        m_currentSection.clear();
        m_entryCount = 0;
        m_sectionCount = 0;
        if (path.empty())
            return false;
        m_fileName = fullPath(path);

        FILE* raw = nullptr;
        const errno_t error = _wfopen_s(&raw, m_fileName.c_str(), L"r");
        FilePointer file(raw);
        if (error != 0 || !file) {
            if (error != ENOENT)
                m_fileName.clear();
            return false;
        }
        char line[kLineBufferSize];
        while (fgets(line, kLineBufferSize, file.get()) != nullptr)
            ParseLine(line);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool CBaseIniReader::GetInt(const std::wstring& section, const std::wstring& key, int& value)
{
    return GetIntValue(section + L"." + key, value);
}

bool CBaseIniReader::GetString(const std::wstring& section, const std::wstring& key, std::wstring& value)
{
    return GetStringValue(section + L"." + key, value);
}

bool CBaseIniReader::SetInt(const std::wstring& section, const std::wstring& key, int value)
{
    try {
        return SetString(section, key, FormatString(L"%d", value));
    } catch (const std::exception&) {
        return false;
    }
}

bool CBaseIniReader::SetString(const std::wstring& section, const std::wstring& key, const std::wstring& value)
{
    if (m_fileName.empty())
        return false;
    if (!WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), m_fileName.c_str()))
        return false;
    return CacheValue(section, key, value, true);
}

void CBaseIniReader::ParseLine(const char* line)
{
    if (line == nullptr)
        return;
    const std::wstring text = trim(fromAnsi(line));
    if (text.empty() || text[0] == L';')
        return;

    if (text.size() >= 2 && text.front() == L'[' && text.back() == L']') {
        const std::wstring name = trim(text.substr(1, text.size() - 2));
        if (!name.empty()) {
            m_currentSection = name;
            ++m_sectionCount;
        }
        return;
    }

    const size_t equals = text.find(L'=');
    if (equals == std::wstring::npos)
        return;
    const std::wstring key = trim(text.substr(0, equals));
    const std::wstring value = trim(text.substr(equals + 1));
    if (CacheValue(m_currentSection, key, value, false))
        ++m_entryCount;
}

bool CBaseIniReader::SplitName(const std::wstring& name, std::wstring& section, std::wstring& key)
{
    const size_t dot = name.find(L'.');
    if (dot == std::wstring::npos)
        return false;
    section = name.substr(0, dot);
    key = name.substr(dot + 1);
    return true;
}

} // namespace Halvex
