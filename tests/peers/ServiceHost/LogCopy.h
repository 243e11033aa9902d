#pragma once
#include "ToolLogFolder.h"

#include <cstdio>
#include <string>

namespace ServiceHost {

// A copy of a log folder's lines as UTF-8 text in one file, kept up to date
// while the program runs, so that someone can follow it (tail -f) as the
// lines are written. A line is copied once the next one follows it or once
// two looks in a row found it last, so that a line being written is never
// copied half.
class LogCopy {
public:
    LogCopy(const ToolLogFolder& log, const std::wstring& path);
    ~LogCopy();
    LogCopy(const LogCopy&) = delete;
    LogCopy& operator=(const LogCopy&) = delete;

    // False when the copy could not be made.
    bool ready() const { return m_file != nullptr; }
    // Copies the lines written since the last look; false when writing failed.
    bool update();
    // Copies every line not copied yet; false when writing failed.
    bool finish();

private:
    bool copy(bool all);

    const ToolLogFolder& m_log;
    FILE* m_file = nullptr;
    size_t m_copied = 0;
    size_t m_lastSeen = 0;
    bool m_failed = false;
};

} // namespace ServiceHost
