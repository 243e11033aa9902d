#include "LogFile.h"
#include "TestNames.h"

#include "FileSystem/FileSystem.h"
#include "Ini/CObfuscatedIniReader.h"
#include "Logging/CLogging.h"
#include "Logging/Log.h"

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <windows.h>

#include <cwchar>
#include <fstream>
#include <iterator>

namespace TestSupport {

namespace {

std::wstring trim(const std::wstring& text)
{
    const size_t first = text.find_first_not_of(L' ');
    return first == std::wstring::npos ? std::wstring() : text.substr(first);
}

// Consumes `expected` at `pos`.
bool take(const std::wstring& raw, size_t& pos, const std::wstring& expected)
{
    if (raw.compare(pos, expected.size(), expected) != 0)
        return false;
    pos += expected.size();
    return true;
}

// Consumes the text up to `end` and `end` itself.
bool takeUntil(const std::wstring& raw, size_t& pos, const std::wstring& end, std::wstring& out)
{
    const size_t found = raw.find(end, pos);
    if (found == std::wstring::npos)
        return false;
    out = raw.substr(pos, found - pos);
    pos = found + end.size();
    return true;
}

bool takeFixed(const std::wstring& raw, size_t& pos, size_t width, std::wstring& out)
{
    if (pos + width > raw.size())
        return false;
    out = trim(raw.substr(pos, width));
    pos += width;
    return true;
}

} // namespace

std::wstring LogFile::programDataFolder()
{
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_CREATE, nullptr, &path)) && path)
        folder = path;
    CoTaskMemFree(path);
    return folder;
}

std::wstring LogFile::programStem()
{
    wchar_t buffer[MAX_PATH * 4] = {};
    DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH * 4 - 1);
    buffer[length] = L'\0';
    std::wstring name = buffer;
    name = name.substr(name.rfind(L'\\') + 1);
    return name.substr(0, name.rfind(L'.'));
}

std::vector<std::wstring> LogFile::rawLines(const std::wstring& path)
{
    const std::wstring text = readText(path);
    std::vector<std::wstring> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        const size_t end = text.find(L"\r\n", begin);
        if (end == std::wstring::npos) {
            lines.push_back(text.substr(begin));
            break;
        }
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 2;
    }
    return lines;
}

std::wstring LogFile::readText(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    if (!in)
        return {};
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::wstring text(bytes.size() / 2, L'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    if (!text.empty() && text[0] == 0xFEFF)
        text.erase(0, 1);
    return text;
}

LogFile::LogFile(uint32_t severity)
{
    const std::wstring group = uniqueName(L"Log");
    m_moduleName = programStem();
    m_groupFolder = programDataFolder() + L"\\Corvane\\CVLOGS\\" + group;
    m_folder = m_groupFolder + L"\\" + m_moduleName;
    Halvex::RemoveDirectoryTree(m_groupFolder.c_str());
    if (Halvex::CreateDirectoryPath(m_folder.c_str()) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot create the log folder " << narrow(m_folder);
        return;
    }
    Halvex::CObfuscatedIniReader ini;
    ini.Load(m_folder + L"\\log.ini");
    const bool written = ini.SetInt(L"Config", L"Options", 0x3C) && ini.SetInt(L"Config", L"MaxSize", 0xA00000) &&
                         ini.SetInt(L"Config", L"MaxEntries", 10) &&
                         ini.SetInt(L"Config", L"Severity", static_cast<int>(severity));
    if (!written) {
        ADD_FAILURE() << "cannot write the log settings";
        return;
    }

    ETWLogging::SetLogIdentity(nullptr, group.c_str(), nullptr, nullptr, 1);
    ETWLogging::CLoggerHolder* holder = ETWLogging::GetLoggerInstance();
    auto* logger = holder ? dynamic_cast<ETWLogging::CLogging*>(holder->Logger()) : nullptr;
    m_ready = logger && _wcsicmp(logger->LogFolder().c_str(), m_folder.c_str()) == 0;
    if (!m_ready)
        ADD_FAILURE() << "the process's logger was made before LogFile, or is not the file logger";
}

LogFile::~LogFile()
{
    if (!m_groupFolder.empty())
        Halvex::RemoveDirectoryTree(m_groupFolder.c_str());
}

std::wstring LogFile::levelName(uint32_t level)
{
    const wchar_t* name = ETWLogging::CLogging::LevelName(level);
    return name ? name : L"";
}

bool LogFile::parse(const std::wstring& raw, LogLine& out)
{
    LogLine line;
    size_t pos = 0;
    std::wstring number;
    if (!takeUntil(raw, pos, L"$ -- (", line.timestamp) || line.timestamp.size() < 19 ||
        !takeUntil(raw, pos, L")$ [", line.level) || !takeFixed(raw, pos, 15, line.executable) ||
        !take(raw, pos, L"]$ [PID:") || !takeUntil(raw, pos, L" TID:", number))
        return false;
    line.processId = wcstoul(number.c_str(), nullptr, 10);
    if (!takeUntil(raw, pos, L"]$ [", number))
        return false;
    line.threadId = wcstoul(number.c_str(), nullptr, 10);
    if (!takeFixed(raw, pos, 20, line.file) || !take(raw, pos, L":") || !takeUntil(raw, pos, L"]$ [", number))
        return false;
    line.line = static_cast<int>(wcstol(number.c_str(), nullptr, 10));
    if (!takeFixed(raw, pos, 40, line.function) || !take(raw, pos, L"()]$ "))
        return false;
    line.text = raw.substr(pos);
    out = std::move(line);
    return true;
}

std::vector<LogLine> LogFile::readFile(const std::wstring& path)
{
    std::vector<LogLine> lines;
    const std::wstring text = readText(path);

    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        const bool lineFeed = end != std::wstring::npos;
        if (!lineFeed)
            end = text.size();
        std::wstring raw = text.substr(start, end - start);
        start = end + 1;
        if (!raw.empty() && raw.back() == L'\r')
            raw.pop_back();
        LogLine line;
        if (parse(raw, line))
            lines.push_back(std::move(line));
        else if (!lines.empty())
            lines.back().text += L"\n" + raw;
    }
    // Texts that spanned lines keep their inner line ends, not the last one.
    return lines;
}

std::vector<LogLine> LogFile::lines() const
{
    std::vector<LogLine> all;
    if (!m_ready)
        return all;
    const unsigned long pid = GetCurrentProcessId();
    for (unsigned index = 0; index < 100; ++index) {
        wchar_t suffix[16];
        swprintf(suffix, 16, L"%03u.log", index);
        for (LogLine& line : readFile(m_folder + L"\\" + m_moduleName + suffix))
            if (line.processId == pid)
                all.push_back(std::move(line));
    }
    return all;
}

std::vector<LogLine> LogFile::find(const LogQuery& query) const
{
    const std::wstring file = query.file.substr(query.file.rfind(L'\\') + 1).substr(0, 20);
    const std::wstring function = query.function.substr(0, 40);
    const std::wstring level = query.level ? levelName(query.level) : std::wstring();
    std::vector<LogLine> found;
    for (LogLine& line : lines()) {
        if ((!level.empty() && line.level != level) || (!file.empty() && line.file != file) ||
            (!function.empty() && line.function != function) ||
            (!query.text.empty() && line.text.find(query.text) == std::wstring::npos))
            continue;
        found.push_back(std::move(line));
    }
    return found;
}

bool LogFile::contains(uint32_t level, const std::wstring& part) const
{
    LogQuery query;
    query.level = level;
    query.text = part;
    return !find(query).empty();
}

} // namespace TestSupport
