#pragma once
// Writer processes for the file logger's tests: this test program started
// again, running only FileLoggerWriterProcess.WritesItsShare, which logs
// through a logger of its own into the same scratch folder.
#include "Logging/CLogging.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace LogWriterProcess {

// A file logger whose ProgramData folder is a scratch folder of the test.
class ScratchFileLogger : public ETWLogging::CLogging {
public:
    explicit ScratchFileLogger(std::wstring root) : m_root(std::move(root)) {}
    uint32_t GetProgramDataFolder(wchar_t* buffer, size_t capacity) override;
    using CLogging::SetFolderLockTiming;

private:
    std::wstring m_root;
};

// What one writer process does: `threads` threads each write `lines` lines
// "w<writer> t<thread> n<number> " followed by `padding` letters x, at level
// 3 through a logger with group "grp" and host "hst" below `root`.
struct Share {
    std::wstring root;
    unsigned writer = 0;
    unsigned threads = 1;
    unsigned lines = 1;
    unsigned padding = 0;
    // After its lines the writer takes the folder's turn, writes half a line
    // "half a li" and a byte of the next character into file 000, and ends
    // there with kEndedMidLine.
    bool endMidLine = false;
    // After its lines the writer waits for the run's stop before its logger
    // ends.
    bool untilStopped = false;
    // Milliseconds of the logger's bounded wait for the folder's turn (0: the
    // default). The writer says how long it paused in all for turns
    // ("paused <ms>"), its logger's end included.
    unsigned waitMilliseconds = 0;
};
const uint32_t kEndedMidLine = 75;

// The text of one line of a writer (without the logger's head).
std::wstring lineText(unsigned writer, unsigned thread, unsigned number, unsigned padding);
// Splits such a text; false when it is not one, whole.
bool parseLineText(const std::wstring& text, unsigned padding, unsigned& writer, unsigned& thread, unsigned& number);

// Runs the writers side by side: all of them start, wait until every one is
// ready, then write at once. Each returns its exit code and output; an empty
// vector when they could not be started.
struct Outcome {
    bool finished = false;
    uint32_t exitCode = 0;
    std::string output;
};
// `whileRunning` runs once they have been let go; the writers that write
// until stopped are stopped when it returns.
std::vector<Outcome> runTogether(const std::vector<Share>& shares,
                                 std::chrono::milliseconds deadline = std::chrono::seconds(120),
                                 const std::function<void()>& whileRunning = nullptr);
// A number the writer's output reports on a line "<key> <number>" ("paused").
bool reported(const std::string& output, const std::string& key, unsigned long long& value);

// The body of the writer process; false (with gtest failures) when this
// process is not one.
bool isWriterProcess();
void writeShare();

} // namespace LogWriterProcess
