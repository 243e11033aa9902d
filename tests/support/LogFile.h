#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace TestSupport {

// One line of the file logger, split into its parts.
struct LogLine {
    std::wstring timestamp;  // "12/10/2026 01:25:03 PM"
    std::wstring level;      // "Normal", "Warning", "Information", "Error", "Critical"
    std::wstring executable; // trimmed
    unsigned long processId = 0;
    unsigned long threadId = 0;
    std::wstring file;       // trimmed; the logger keeps 20 characters after the last backslash
    int line = 0;
    std::wstring function;   // trimmed; the logger keeps 40 characters
    std::wstring text;       // without the line end
};

// What to look for; empty fields and level 0 match anything. file and
// function are compared after the cut the logger makes, text is a part.
struct LogQuery {
    uint32_t level = 0;
    std::wstring file;
    std::wstring function;
    std::wstring text;
};

// Makes this process log to files of its own: selects the file logger
// (identity mechanism 1) with a group named after the running test, sets
// every field of the line on, severity 1 (every level) and large files, and
// makes the logger at once. Construct it before anything in the process logs;
// otherwise ready() is false and the test fails. The folder is removed when
// the object goes.
class LogFile {
public:
    explicit LogFile(uint32_t severity = 1);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    bool ready() const { return m_ready; }
    const std::wstring& folder() const { return m_folder; }

    // Every line this process wrote, oldest file first.
    std::vector<LogLine> lines() const;
    std::vector<LogLine> find(const LogQuery& query) const;
    // A line at that level whose text holds `part`.
    bool contains(uint32_t level, const std::wstring& part) const;

    // Splits a line of a logger whose options are all set (0x3C); false when
    // it is not such a line.
    static bool parse(const std::wstring& raw, LogLine& out);
    // Reads a UTF-16LE log file (with its byte-order mark) into lines,
    // joining the lines of a text that spans several.
    static std::vector<LogLine> readFile(const std::wstring& path);
    static std::wstring levelName(uint32_t level);
    // A log file's text without its byte-order mark; empty when unreadable.
    static std::wstring readText(const std::wstring& path);
    // That text split at CR LF, as written, torn lines too: the last piece
    // is one without its line end.
    static std::vector<std::wstring> rawLines(const std::wstring& path);

    // The machine's ProgramData folder, and the program's file name without
    // its extension (the file logger's default module name).
    static std::wstring programDataFolder();
    static std::wstring programStem();

private:
    bool m_ready = false;
    std::wstring m_groupFolder;
    std::wstring m_folder;
    std::wstring m_moduleName;
};

} // namespace TestSupport
