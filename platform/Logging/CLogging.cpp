#include "Logging/CLogging.h"
#include "FileSystem/FileSystem.h"
#include "FormatString.h"
#include "Ini/CObfuscatedIniReader.h"
#include "Logging/CDefaultLogBuilder.h"
#include "Logging/LogFolderSecurity.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <chrono>
#include <cwchar>
#include <new>
#include <stdexcept>
#include <string>

namespace ETWLogging {

namespace {

const wchar_t kSection[] = L"Config";
const wchar_t kKeyEnable[] = L"Enable";
const wchar_t kKeyMaxSize[] = L"MaxSize";
const wchar_t kKeyMaxEntries[] = L"MaxEntries";
const wchar_t kKeySeverity[] = L"Severity";
const wchar_t kKeyOptions[] = L"Options";
const wchar_t kKeyLastLogIdx[] = L"LastLogIdx";
const wchar_t kIniName[] = L"log.ini";
const wchar_t kBaseFolderTail[] = L"\\Corvane\\CVLOGS\\";
const uint32_t kNeverSeverity = 10000;
const size_t kExecutableWidth = 15;
const size_t kSourceWidth = 20;
const size_t kFunctionWidth = 40;

bool isEmpty(const wchar_t* text)
{
    return text && *text == L'\0';
}

// The file name's stem: up to its last ".".
std::wstring stemOf(const std::wstring& fileName)
{
    const size_t dot = fileName.rfind(L'.');
    return dot == std::wstring::npos ? fileName : fileName.substr(0, dot);
}

// Reads one setting: the module ini wins over the global one, and an invalid
// value is repaired with the default in the file that holds it. False when a
// repair could not be written (the setting then keeps its current value).
// A file is written only in its folder's turn: without it a repair fails.
bool readConfigValue(Halvex::CObfuscatedIniReader& moduleIni, bool moduleInTurn,
                     Halvex::CObfuscatedIniReader& globalIni, bool globalInTurn, const wchar_t* key,
                     uint32_t defaultValue, uint32_t& value)
{
    int read = 0;
    if (moduleIni.GetInt(kSection, key, read)) {
        if (CLogging::IsValidConfigValue(key, static_cast<uint32_t>(read))) {
            value = static_cast<uint32_t>(read);
            return true;
        }
        if (!moduleInTurn || !moduleIni.ReplaceInt(kSection, key, static_cast<int>(defaultValue)))
            return false;
    }
    if (globalIni.GetInt(kSection, key, read)) {
        if (CLogging::IsValidConfigValue(key, static_cast<uint32_t>(read))) {
            value = static_cast<uint32_t>(read);
            return true;
        }
        if (!globalInTurn || !globalIni.ReplaceInt(kSection, key, static_cast<int>(defaultValue)))
            return false;
    }
    value = defaultValue;
    return true;
}

uint32_t clampTo(uint32_t value, uint32_t low, uint32_t high)
{
    return value < low ? low : (value > high ? high : value);
}

} // namespace

CLogging::CLogging() = default;

CLogging::~CLogging()
{
    std::unique_lock<std::mutex> lock(m_lock);
    WriteKeptAtEnd(lock);
    Reset();
}

void CLogging::Reset()
{
    m_file.Close();
    m_folderLock.Close();
    m_initialised = false;
    m_hasGroup = false;
    m_group.clear();
    m_moduleName.clear();
    m_executableName.clear();
    m_processId = 0;
    m_hasHost = false;
    m_host.clear();
    m_logFolder.clear();
    m_baseFolder.clear();
    m_globalIni.clear();
    m_moduleIni.clear();
    m_maxSize.store(kDefaultMaxSize);
    m_maxEntries.store(kDefaultMaxEntries);
    m_severity.store(kDefaultSeverity);
    m_options.store(kDefaultOptions);
    m_enabled.store(1);
    m_readiness = Readiness::EnsureFolder;
    m_hasPendingIndex = false;
    m_pendingIndex = 0;
    m_padFirst = false;
    m_breakFirst = false;
    m_kept.clear();
    m_keptBytes = 0;
    m_dropped = 0;
}

uint32_t CLogging::Init(const wchar_t* group, HMODULE module, const wchar_t* host, LoggingConfigListenerIf*)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_initialised)
        return LOG_STATUS_ALREADY_INITIALIZED;
    uint32_t result = ERROR_OUTOFMEMORY;
    try {
        result = InitInternal(group, module, host);
    } catch (const std::bad_alloc&) {
        result = ERROR_OUTOFMEMORY;
    }
    if (result != ERROR_SUCCESS)
        Reset();
    return result;
}

uint32_t CLogging::InitInternal(const wchar_t* group, HMODULE module, const wchar_t* host)
{
    m_initialised = false;
    if (isEmpty(group) || isEmpty(host))
        return ERROR_INVALID_PARAMETER;

    m_hasGroup = group != nullptr;
    m_group = group ? group : L"";

    std::wstring folder, fileName;
    if (!Halvex::SplitModulePath(nullptr, folder, false, fileName) || fileName.empty())
        return ERROR_OUTOFMEMORY;
    m_executableName = fileName;
    m_moduleName = stemOf(fileName);
    if (module) {
        std::wstring moduleFolder, moduleFile;
        if (Halvex::SplitModulePath(module, moduleFolder, false, moduleFile) && !moduleFile.empty())
            m_moduleName = stemOf(moduleFile);
    }

    m_hasHost = host != nullptr;
    m_host = host ? host : L"";

    const uint32_t paths = BuildPaths();
    if (paths != ERROR_SUCCESS)
        return paths;

    m_folderLock.Open(m_logFolder);
    LoadConfig();
    m_processId = GetCurrentProcessId();
    m_initialised = true;
    return ERROR_SUCCESS;
}

uint32_t CLogging::BuildPaths()
{
    if ((m_hasGroup && m_group.empty()) || m_moduleName.empty())
        return ERROR_INVALID_PARAMETER;
    wchar_t programData[1024] = {};
    const uint32_t result = GetProgramDataFolder(programData, sizeof(programData) / sizeof(programData[0]));
    if (result != ERROR_SUCCESS)
        return result;
    m_baseFolder = std::wstring(programData) + kBaseFolderTail;
    m_logFolder = m_baseFolder + (m_hasGroup ? m_group + L"\\" : std::wstring()) + m_moduleName;
    m_moduleIni = m_logFolder + L"\\" + kIniName;
    m_globalIni = m_baseFolder + kIniName;
    return ERROR_SUCCESS;
}

uint32_t CLogging::GetProgramDataFolder(wchar_t* buffer, size_t capacity)
{
    if (!buffer || capacity == 0)
        return ERROR_INVALID_PARAMETER;
    PWSTR path = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_CREATE, nullptr, &path);
    uint32_t result = ERROR_INVALID_PARAMETER;
    if (SUCCEEDED(hr) && path) {
        const size_t length = wcslen(path);
        if (length < capacity) {
            wmemcpy(buffer, path, length + 1);
            result = ERROR_SUCCESS;
        }
    }
    CoTaskMemFree(path);
    return result;
}

void CLogging::LoadConfig()
{
    const bool moduleExists = Halvex::FileExists(m_moduleIni.c_str());
    const bool globalExists = Halvex::FileExists(m_globalIni.c_str());
    if (!moduleExists && !globalExists)
        return;
    // A value repaired here rewrites its ini file: the module's under the
    // folder's lock, the global one under the lock of the folder that holds it.
    CLogFolderLock::Guard folderHeld(m_folderLock, *m_waitBudget, CLogFolderLock::Wait::AsAllowed);
    CLogFolderLock baseLock;
    baseLock.Open(m_baseFolder.substr(0, m_baseFolder.size() - 1));
    CLogFolderLock::Guard baseHeld(baseLock, *m_waitBudget, CLogFolderLock::Wait::AsAllowed);
    const bool moduleInTurn = folderHeld.Held();
    const bool globalInTurn = baseHeld.Held();
    Halvex::CObfuscatedIniReader moduleIni;
    Halvex::CObfuscatedIniReader globalIni;
    moduleIni.Load(m_moduleIni);
    globalIni.Load(m_globalIni);

    uint32_t value = 0;
    if (readConfigValue(moduleIni, moduleInTurn, globalIni, globalInTurn, kKeyEnable, 1, value))
        m_enabled.store(value != 0 ? 1 : 0);
    if (readConfigValue(moduleIni, moduleInTurn, globalIni, globalInTurn, kKeyMaxSize, kDefaultMaxSize, value))
        SetMaxSize(value);
    if (readConfigValue(moduleIni, moduleInTurn, globalIni, globalInTurn, kKeyMaxEntries, kDefaultMaxEntries, value))
        SetMaxEntries(value);
    // Stored as read: 0 lets every level through.
    if (readConfigValue(moduleIni, moduleInTurn, globalIni, globalInTurn, kKeySeverity, kDefaultSeverity, value))
        m_severity.store(value);
    if (readConfigValue(moduleIni, moduleInTurn, globalIni, globalInTurn, kKeyOptions, kDefaultOptions, value))
        m_options.store(value);
}

bool CLogging::IsValidConfigValue(const wchar_t* key, uint32_t value)
{
    if (!key)
        return false;
    if (_wcsicmp(key, kKeyMaxSize) == 0)
        return value >= kDefaultMaxSize && value <= kMaxMaxSize;
    if (_wcsicmp(key, kKeyMaxEntries) == 0)
        return value >= kMinMaxEntries && value <= kMaxMaxEntries;
    if (_wcsicmp(key, kKeySeverity) == 0)
        return value < 7;
    return true;
}

uint32_t CLogging::Uninit()
{
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_initialised)
        return LOG_STATUS_NOT_INITIALIZED;
    WriteKeptAtEnd(lock);
    if (!m_initialised)
        return LOG_STATUS_NOT_INITIALIZED;
    Reset();
    return ERROR_SUCCESS;
}

void CLogging::Log(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                   const wchar_t* format, ...)
{
    if (!IsEnabled() || level < m_severity.load())
        return;
    va_list args;
    va_start(args, format);
    WriteFormattedV(level, file, function, line, format, args);
    va_end(args);
}

bool CLogging::IsLevelEnabled(uint32_t level)
{
    // "Enable" 0 in an ini file switches the front door's lines off too. The
    // severity first: a call site at a disabled level stops at one load.
    return level >= m_severity.load() && m_enabled.load() != 0;
}

void CLogging::SetMaxEntries(uint32_t entries)
{
    m_maxEntries.store(clampTo(entries, kMinMaxEntries, kMaxMaxEntries));
}

void CLogging::SetMaxSize(uint32_t bytes)
{
    m_maxSize.store(clampTo(bytes, kDefaultMaxSize, kMaxMaxSize));
}

void CLogging::SetSeverity(uint32_t level)
{
    m_severity.store(clampTo(level, LOG_LEVEL_NORMAL, LOG_LEVEL_INFORMATION_EX));
}

uint32_t CLogging::AddRef()
{
    return ++m_refCount;
}

uint32_t CLogging::Release()
{
    const uint32_t count = --m_refCount;
    if (count == 0)
        delete this;
    return count;
}

bool CLogging::EnsureLogFolder()
{
    switch (m_readiness) {
    case Readiness::Ready:
        return true;
    case Readiness::NeverReady:
        return false;
    case Readiness::EnsureFolder:
        break;
    }
    if (MakeLogFolder()) {
        m_readiness = Readiness::Ready;
        return true;
    }
    m_enabled.store(0);
    m_severity.store(kNeverSeverity);
    m_readiness = Readiness::NeverReady;
    return false;
}

bool CLogging::MakeLogFolder() const
{
    return CreateOwnLogFolder(m_logFolder) == ERROR_SUCCESS;
}

uint32_t CLogging::Write(const wchar_t* file, const wchar_t* function, int32_t line, uint32_t level,
                         const wchar_t* text)
{
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_initialised || !text || !*text || m_readiness == Readiness::NeverReady)
        return ERROR_INVALID_PARAMETER;
    // "Enable" 0 in an ini file: no folder, no file, no line.
    if (!IsEnabled())
        return ERROR_SUCCESS;
    if (!EnsureLogFolder())
        return ERROR_INVALID_PARAMETER;

    SYSTEMTIME now;
    GetLocalTime(&now);
    std::wstring lineText;
    uint32_t result = FormatLine(now, file, function, line, level, text, lineText);
    if (result != ERROR_SUCCESS)
        return result;
    if ((m_options.load() & LOG_OPTION_DEBUG_OUTPUT) && !lineText.empty())
        OutputDebugStringW(lineText.c_str());

    DWORD unavailable = 0;
    {
        // Opening, rotating, writing and closing are one step for every
        // process that shares the folder; this thread does not wait for it
        // while it holds the logger's lock.
        CLogFolderLock::Guard held(m_folderLock, *m_waitBudget, CLogFolderLock::Wait::No);
        if (held.Error() == ERROR_PATH_NOT_FOUND && MakeLogFolder())
            held.TryAgain();
        if (held.Held())
            return WriteKeptInTurn(&lineText);
        unavailable = held.Error();
    }
    // Another writer has the turn: the line waits here, in order, and is
    // written in the next turn any thread of the logger gets. One thread at
    // a time waits for that turn, as long as the budget allows.
    result = Keep(std::move(lineText)) ? ERROR_SUCCESS : ERROR_BUSY;
    if (unavailable != 0)
        return unavailable;
    if (!m_waiting && m_waitBudget->WaitAllowed() != 0)
        WaitAndWriteKept(lock, CLogFolderLock::Wait::AsAllowed);
    return result;
}

bool CLogging::Keep(std::wstring&& lineText)
{
    const size_t bytes = lineText.size() * sizeof(wchar_t);
    // Once a line is dropped, the lines after it are too until the kept ones
    // are written, so that the count of the dropped stands where they were.
    if (m_dropped != 0 || m_keptBytes + bytes > kMostKeptBytes) {
        ++m_dropped;
        return false;
    }
    m_kept.push_back(std::move(lineText));
    m_keptBytes += bytes;
    return true;
}

void CLogging::WaitAndWriteKept(std::unique_lock<std::mutex>& lock, CLogFolderLock::Wait wait)
{
    m_waiting = true;
    CLogFolderLock folder;
    folder.Open(m_logFolder);
    const std::shared_ptr<CLogWaitBudget> budget = m_waitBudget;
    lock.unlock();
    {
        CLogFolderLock::Guard held(folder, *budget, wait);
        if (held.Error() == ERROR_PATH_NOT_FOUND && MakeLogFolder())
            held.TryAgain();
        lock.lock();
        if (held.Held())
            WriteKeptInTurn(nullptr);
        m_waiting = false;
    }
    m_waitEnded.notify_all();
}

void CLogging::WriteKeptAtEnd(std::unique_lock<std::mutex>& lock)
{
    // A waiter ends its wait within the longest wait, unless the system ended
    // its thread (as at the process's end, before a module's statics go):
    // then the end does not wait for it, nor for a turn.
    const auto longest = std::chrono::milliseconds(CLogFolderLock::LongestWait(m_waitBudget->Wait()) + 1000);
    if (!m_waitEnded.wait_for(lock, longest, [this] { return !m_waiting; }))
        return;
    if (m_initialised && (!m_kept.empty() || m_dropped != 0))
        WaitAndWriteKept(lock, CLogFolderLock::Wait::Always);
}

// The file stays open from line to line until the turn ends: nobody else
// writes it meanwhile. The count of the dropped lines stands where they were,
// after the kept ones; the caller's own line, if any, comes last and gives
// the result.
uint32_t CLogging::WriteKeptInTurn(const std::wstring* own)
{
    while (!m_kept.empty()) {
        // A kept line that cannot be written is lost, as any line would be.
        WriteInTurn(m_kept.front());
        m_keptBytes -= m_kept.front().size() * sizeof(wchar_t);
        m_kept.pop_front();
    }
    if (m_dropped != 0) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        const std::wstring text =
            Halvex::FormatString(L"%lu lines were dropped while another writer held the log folder.", m_dropped);
        std::wstring notice;
        if (FormatLine(now, L"CLogging", L"ETWLogging::CLogging::WriteKeptInTurn", __LINE__, LOG_LEVEL_WARNING,
                       text.c_str(), notice) == ERROR_SUCCESS)
            WriteInTurn(notice);
        m_dropped = 0;
    }
    const uint32_t result = own ? WriteInTurn(*own) : ERROR_SUCCESS;
    m_file.Close();
    return result;
}

uint32_t CLogging::WriteInTurn(const std::wstring& lineText)
{
    // A full file is left for the next, as OpenLogFile would.
    if (m_file.IsOpen() && m_fileSize >= m_maxSize.load())
        m_file.Close();
    if (!m_file.IsOpen()) {
        uint32_t opened = OpenLogFile();
        // The folder was removed while the logger runs: made again for this line.
        if (opened == ERROR_PATH_NOT_FOUND && MakeLogFolder())
            opened = OpenLogFile();
        if (opened != ERROR_SUCCESS)
            return opened;
    }

    // One write, so that the line never mixes with another writer's.
    const char* data = reinterpret_cast<const char*>(lineText.data());
    size_t size = lineText.size() * sizeof(wchar_t);
    std::string repaired;
    if (m_padFirst || m_breakFirst) {
        if (m_padFirst)
            repaired.push_back('\0');
        if (m_breakFirst)
            repaired.append("\r\0\n\0", 4);
        repaired.append(data, size);
        data = repaired.data();
        size = repaired.size();
    }
    DWORD written = 0;
    if (!WriteFile(m_file.Get(), data, static_cast<DWORD>(size), &written, nullptr)) {
        const DWORD error = GetLastError();
        m_file.Close();
        return error;
    }
    m_padFirst = false;
    m_breakFirst = false;
    m_fileSize += written;
    return ERROR_SUCCESS;
}

std::wstring CLogging::LogFilePath(uint32_t index) const
{
    std::wstring path = m_logFolder + L"\\" + m_moduleName;
    if (m_hasHost)
        path += L"_" + m_host;
    return path + Halvex::FormatString(L"%.3lu", static_cast<unsigned long>(index)) + L".log";
}

uint32_t CLogging::ReadLastLogIndex() const
{
    Halvex::CObfuscatedIniReader ini;
    int index = 0;
    if (!ini.Load(m_moduleIni) || !ini.GetInt(kSection, kKeyLastLogIdx, index))
        return 0;
    return static_cast<uint32_t>(index);
}

bool CLogging::WriteLastLogIndex(uint32_t index) const
{
    Halvex::CObfuscatedIniReader ini;
    ini.Load(m_moduleIni);
    return ini.ReplaceInt(kSection, kKeyLastLogIdx, static_cast<int>(index));
}

void CLogging::MoveToIndex(uint32_t index)
{
    m_hasPendingIndex = !WriteLastLogIndex(index);
    m_pendingIndex = index;
}

// A file that is new or empty first receives the byte-order mark.
uint32_t CLogging::OpenLogFileAtEnd(uint32_t index, DWORD disposition)
{
    m_padFirst = false;
    m_breakFirst = false;
    const std::wstring path = LogFilePath(index);
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, disposition, FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError();
    m_file.Reset(handle);
    LARGE_INTEGER end = {};
    if (!SetFilePointerEx(handle, end, &end, FILE_END)) {
        const DWORD error = GetLastError();
        m_file.Close();
        return error;
    }
    m_fileSize = static_cast<uint64_t>(end.QuadPart);
    if (end.QuadPart == 0) {
        static const unsigned char kByteOrderMark[] = {0xFF, 0xFE};
        DWORD written = 0;
        if (!WriteFile(handle, kByteOrderMark, sizeof(kByteOrderMark), &written, nullptr)) {
            const DWORD error = GetLastError();
            m_file.Close();
            return error;
        }
        m_fileSize = written;
        return ERROR_SUCCESS;
    }
    const uint32_t result = FindLineStart(handle, end.QuadPart);
    if (result != ERROR_SUCCESS)
        m_file.Close();
    return result;
}

// A writer that ended in the middle of its line (the system then ends its
// turn) leaves the file without a line end, perhaps in the middle of a
// character: the next line starts on a line of its own, in step with the
// file's characters. A text's own closing line feed ends a line too.
uint32_t CLogging::FindLineStart(HANDLE file, LONGLONG end)
{
    m_padFirst = end % 2 != 0;
    if (m_padFirst) {
        m_breakFirst = true;
        return ERROR_SUCCESS;
    }
    if (end <= 2)
        return ERROR_SUCCESS;
    LARGE_INTEGER last;
    last.QuadPart = end - 2;
    wchar_t unit = 0;
    DWORD read = 0;
    if (!SetFilePointerEx(file, last, nullptr, FILE_BEGIN) || !ReadFile(file, &unit, sizeof(unit), &read, nullptr))
        return GetLastError();
    m_breakFirst = read != sizeof(unit) || unit != L'\n';
    return ERROR_SUCCESS;
}

// The file after a full one is the oldest of the ring and is emptied, unless
// another writer has moved to it already without being able to record that
// in "LastLogIdx": emptying it would lose that writer's lines. The oldest file
// filled up before the ring moved on from it, and was last written strictly
// before the full one; a file that is not full, or was written in the same
// clock tick (about 16 ms on Windows) or later, is continued instead.
uint32_t CLogging::RotateInto(uint32_t index, const FILETIME& fullFileWritten)
{
    WIN32_FILE_ATTRIBUTE_DATA next;
    bool movedToAlready = false;
    if (GetFileAttributesExW(LogFilePath(index).c_str(), GetFileExInfoStandard, &next)) {
        const uint64_t size = (static_cast<uint64_t>(next.nFileSizeHigh) << 32) | next.nFileSizeLow;
        movedToAlready = size < m_maxSize.load() || CompareFileTime(&next.ftLastWriteTime, &fullFileWritten) >= 0;
    }
    const uint32_t result = OpenLogFileAtEnd(index, movedToAlready ? OPEN_EXISTING : CREATE_ALWAYS);
    if (result == ERROR_SUCCESS)
        MoveToIndex(index);
    return result;
}

uint32_t CLogging::OpenLogFile()
{
    if (m_logFolder.empty() || m_moduleName.empty() || (m_hasHost && m_host.empty()))
        return ERROR_INVALID_PARAMETER;
    if (m_file.IsOpen())
        return ERROR_ALREADY_EXISTS;

    uint32_t index = ReadLastLogIndex();
    if (m_hasPendingIndex) {
        index = m_pendingIndex;
        m_hasPendingIndex = !WriteLastLogIndex(index);
    }
    const uint32_t maxEntries = m_maxEntries.load();
    if (index >= maxEntries) {
        // Only the writer that records the move back to file 0 empties it;
        // the others go on at its end.
        MoveToIndex(0);
        return OpenLogFileAtEnd(0, m_hasPendingIndex ? OPEN_ALWAYS : CREATE_ALWAYS);
    }

    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(LogFilePath(index).c_str(), GetFileExInfoStandard, &data))
        return OpenLogFileAtEnd(index, CREATE_ALWAYS);
    if (data.nFileSizeLow >= m_maxSize.load())
        return RotateInto(index + 1 >= maxEntries ? 0 : index + 1, data.ftLastWriteTime);
    return OpenLogFileAtEnd(index, OPEN_EXISTING);
}

const wchar_t* CLogging::LevelName(uint32_t level)
{
    static const wchar_t* const kNames[] = {L"Normal", L"Warning", L"Information",
                                            L"Error", L"Critical", L"Information"};
    if (level < 1 || level > 6)
        return nullptr;
    return kNames[level - 1];
}

std::wstring CLogging::FormatTimestamp(const SYSTEMTIME& time)
{
    const unsigned short hour = time.wHour % 12 == 0 ? 12 : time.wHour % 12;
    return Halvex::FormatString(L"%02hu/%02hu/%hu %02hu:%02hu:%02hu %s$", time.wMonth, time.wDay, time.wYear,
                                hour, time.wMinute, time.wSecond, time.wHour < 12 ? L"AM" : L"PM");
}

std::wstring CLogging::FormatFixedWidth(const wchar_t* text, size_t width)
{
    std::wstring cut = text ? std::wstring(text).substr(0, width) : std::wstring();
    return std::wstring(width - cut.size(), L' ') + cut;
}

uint32_t CLogging::FormatLine(const SYSTEMTIME& time, const wchar_t* file, const wchar_t* function, int32_t line,
                              uint32_t level, const wchar_t* text, std::wstring& out) const
{
    const wchar_t* levelName = LevelName(level);
    if (!text || !*text || !levelName)
        return ERROR_INVALID_PARAMETER;

    std::wstring result = FormatTimestamp(time) + L" -- (" + levelName + L")$";
    const uint32_t options = m_options.load();
    if (options & LOG_OPTION_EXECUTABLE)
        result += L" [" + FormatFixedWidth(m_executableName.c_str(), kExecutableWidth) + L"]$";
    if (options & LOG_OPTION_PROCESS_THREAD)
        result += Halvex::FormatString(L" [PID:%5lu TID:%5lu]$", static_cast<unsigned long>(m_processId),
                                       static_cast<unsigned long>(GetCurrentThreadId()));
    if (options & LOG_OPTION_SOURCE) {
        const wchar_t* name = file;
        if (name) {
            if (const wchar_t* slash = wcsrchr(name, L'\\'))
                name = slash + 1;
        }
        result += L" [" + FormatFixedWidth(name, kSourceWidth) + Halvex::FormatString(L":%5d]$", line);
    }
    if (options & LOG_OPTION_FUNCTION)
        result += L" [" + FormatFixedWidth(function, kFunctionWidth) + L"()]$";
    result += L" ";
    result += text;
    if (result.back() != L'\n')
        result += L"\r\n";
    out = std::move(result);
    return ERROR_SUCCESS;
}

bool CreateFileLogger(const wchar_t*, const wchar_t* group, HMODULE module, const wchar_t* host, CLoggingIf** out)
{
    if (!out || *out || isEmpty(group) || isEmpty(host))
        return false;
    CLogging* logger = new (std::nothrow) CLogging();
    if (!logger)
        return false;
    if (logger->Init(group, module, host, nullptr) != ERROR_SUCCESS) {
        delete logger;
        return false;
    }
    logger->AddRef();
    *out = logger;
    return true;
}

} // namespace ETWLogging
