#pragma once
#include "Logging/CLogFolderLock.h"
#include "Logging/CLogWaitBudget.h"
#include "Logging/CLoggingIf.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace ETWLogging {

// Bits of the "Options" setting: which parts a line carries.
enum LogOptions : uint32_t {
    LOG_OPTION_DEBUG_OUTPUT = 0x01,
    LOG_OPTION_PROCESS_THREAD = 0x04,
    LOG_OPTION_SOURCE = 0x08,
    LOG_OPTION_EXECUTABLE = 0x10,
    LOG_OPTION_FUNCTION = 0x20,
};

// The rotating file logger: one UTF-16 line per message in a ring of files
// below ProgramData, configured by a module and a global ini file. The file
// is opened and closed around every line, so the files can be read, moved or
// deleted while the program runs and several processes can share a folder.
class CLogging : public CLoggingIf {
public:
    static constexpr uint32_t kDefaultMaxSize = 0x40000;
    static constexpr uint32_t kMaxMaxSize = 0xA00000;
    static constexpr uint32_t kDefaultMaxEntries = 3;
    static constexpr uint32_t kMinMaxEntries = 2;
    static constexpr uint32_t kMaxMaxEntries = 100;
    static constexpr uint32_t kDefaultSeverity = 3;
    static constexpr uint32_t kDefaultOptions = LOG_OPTION_EXECUTABLE;
    // Bytes of lines a logger keeps while another writer holds the folder's
    // turn; lines beyond are dropped, and counted in the next line written.
    static constexpr size_t kMostKeptBytes = 1 << 20;

    CLogging();
    ~CLogging() override;
    CLogging(const CLogging&) = delete;
    CLogging& operator=(const CLogging&) = delete;

    // The listener is not used.
    uint32_t Init(const wchar_t* group, HMODULE module, const wchar_t* host,
                  LoggingConfigListenerIf* listener) override;
    uint32_t Register() override { return ERROR_SUCCESS; }
    void GetQualifiedName(wchar_t**) override {}
    void GetGroupName(wchar_t**) override {}
    uint32_t Uninit() override;
    void SetEnabled(bool enabled) override { m_enabled.store(enabled ? 1 : 0); }
    bool IsEnabled() override { return m_enabled.load() != 0; }
    void Log(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line, const wchar_t* format,
             ...) override;
    uint32_t Write(const wchar_t* file, const wchar_t* function, int32_t line, uint32_t level,
                   const wchar_t* text) override;
    bool IsLevelEnabled(uint32_t level) override;
    void SetMaxEntries(uint32_t entries) override;
    uint32_t GetMaxEntries() override { return m_maxEntries.load(); }
    void SetMaxSize(uint32_t bytes) override;
    uint32_t GetMaxSize() override { return m_maxSize.load(); }
    void SetSeverity(uint32_t level) override;
    uint32_t GetSeverity() override { return m_severity.load(); }
    uint32_t AddRef() override;
    uint32_t Release() override;

    // The ProgramData folder into the buffer; 87 when it cannot be had.
    virtual uint32_t GetProgramDataFolder(wchar_t* buffer, size_t capacity);

    // The line for one message at the given local time, with the logger's
    // options and names; 87 for an empty text or a level outside 1..6.
    uint32_t FormatLine(const SYSTEMTIME& time, const wchar_t* file, const wchar_t* function, int32_t line,
                        uint32_t level, const wchar_t* text, std::wstring& out) const;
    static std::wstring FormatTimestamp(const SYSTEMTIME& time);
    // The first `width` characters, right-aligned in `width` columns.
    static std::wstring FormatFixedWidth(const wchar_t* text, size_t width);
    // The level's name; null outside 1..6.
    static const wchar_t* LevelName(uint32_t level);
    static bool IsValidConfigValue(const wchar_t* key, uint32_t value);

    const std::wstring& LogFolder() const { return m_logFolder; }
    // The path of log file k.
    std::wstring LogFilePath(uint32_t index) const;
    const std::wstring& ModuleIniPath() const { return m_moduleIni; }
    const std::wstring& GlobalIniPath() const { return m_globalIni; }
    uint32_t GetOptions() const { return m_options.load(); }

protected:
    // How long a writer waits for the folder's turn and backs off after a
    // wait that ran out; set before Init, which may wait too.
    void SetFolderLockTiming(DWORD wait, DWORD backOff, std::shared_ptr<CLogWaitBudget::Clock> clock)
    {
        m_waitBudget = std::make_shared<CLogWaitBudget>(wait, backOff, std::move(clock));
    }

private:
    class FileHandle {
    public:
        ~FileHandle() { Close(); }
        bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
        HANDLE Get() const { return m_handle; }
        void Reset(HANDLE handle)
        {
            Close();
            m_handle = handle;
        }
        void Close()
        {
            if (m_handle != INVALID_HANDLE_VALUE)
                CloseHandle(m_handle);
            m_handle = INVALID_HANDLE_VALUE;
        }

    private:
        HANDLE m_handle = INVALID_HANDLE_VALUE;
    };

    enum class Readiness { EnsureFolder, Ready, NeverReady };

    uint32_t InitInternal(const wchar_t* group, HMODULE module, const wchar_t* host);
    uint32_t BuildPaths();
    void LoadConfig();
    void Reset();
    bool EnsureLogFolder();
    uint32_t OpenLogFile();
    uint32_t OpenLogFileAtEnd(uint32_t index, DWORD disposition);
    uint32_t FindLineStart(HANDLE file, LONGLONG end);
    uint32_t RotateInto(uint32_t index, const FILETIME& fullFileWritten);
    // With the folder's turn: one line (the file left open for the next), or
    // every kept line in order (the file closed after them).
    uint32_t WriteInTurn(const std::wstring& lineText);
    uint32_t WriteKeptInTurn(const std::wstring* own);
    // The line kept until the turn can be had; false when it was dropped.
    bool Keep(std::wstring&& lineText);
    // Waits for the turn without the logger's lock, which `lock` holds on
    // entry and on return, and then writes the kept lines.
    void WaitAndWriteKept(std::unique_lock<std::mutex>& lock, CLogFolderLock::Wait wait);
    // At the end: the kept lines get one bounded attempt, after any wait
    // that runs has ended.
    void WriteKeptAtEnd(std::unique_lock<std::mutex>& lock);
    bool MakeLogFolder() const;
    uint32_t ReadLastLogIndex() const;
    bool WriteLastLogIndex(uint32_t index) const;
    void MoveToIndex(uint32_t index);

    bool m_initialised = false;
    bool m_hasGroup = false;
    std::wstring m_group;
    std::wstring m_moduleName;
    std::wstring m_executableName;
    DWORD m_processId = 0;
    bool m_hasHost = false;
    std::wstring m_host;
    std::wstring m_logFolder;
    FileHandle m_file;
    std::atomic<uint32_t> m_refCount{0};
    std::mutex m_lock;
    // Between the processes that share the folder. A thread that holds m_lock
    // only tries the turn; the one thread that waits for it lets go of m_lock
    // first. The budget is the logger's, for every turn it takes, so that the
    // turns of its threads and of its start share one back-off.
    CLogFolderLock m_folderLock;
    bool m_waiting = false;
    std::condition_variable m_waitEnded;
    // Lines formatted while another writer held the turn, oldest first.
    std::deque<std::wstring> m_kept;
    size_t m_keptBytes = 0;
    unsigned long m_dropped = 0;
    std::shared_ptr<CLogWaitBudget> m_waitBudget = std::make_shared<CLogWaitBudget>();
    std::atomic<uint32_t> m_maxSize{kDefaultMaxSize};
    std::atomic<uint32_t> m_maxEntries{kDefaultMaxEntries};
    std::atomic<uint32_t> m_severity{kDefaultSeverity};
    std::atomic<uint32_t> m_options{kDefaultOptions};
    std::wstring m_baseFolder;
    std::wstring m_globalIni;
    std::wstring m_moduleIni;
    std::atomic<uint32_t> m_enabled{1};
    Readiness m_readiness = Readiness::EnsureFolder;
    // The file the logger moved to when "LastLogIdx" could not be written:
    // it goes on there instead of emptying the next file again on every line.
    bool m_hasPendingIndex = false;
    uint32_t m_pendingIndex = 0;
    // What the open file needs before the next line, when its last line was
    // cut short by a writer that ended half-way: a byte that completes a cut
    // character, and a line end.
    bool m_padFirst = false;
    bool m_breakFirst = false;
    // Bytes of the open file.
    uint64_t m_fileSize = 0;
};

} // namespace ETWLogging
