#pragma once
#include "Logging/CLogger.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace TestSupport {

// One message as the platform library's logger core delivered it.
struct PlatformLogEntry {
    uint32_t type;
    std::wstring file;
    std::wstring function;
    int32_t line;
    std::wstring message;
};

// Registers itself with Halvex::CLogger for its lifetime and keeps every
// message it receives, from whatever thread it comes.
class PlatformLogRecorder : public Halvex::ILoggingHandler {
public:
    PlatformLogRecorder();
    ~PlatformLogRecorder();
    PlatformLogRecorder(const PlatformLogRecorder&) = delete;
    PlatformLogRecorder& operator=(const PlatformLogRecorder&) = delete;

    uint32_t Log(uint32_t type, const wchar_t* file, const wchar_t* function, int32_t line,
                 const wchar_t* message) override;

    std::vector<PlatformLogEntry> entries() const;
    // Waits until at least `count` messages arrived; false at the deadline.
    bool waitForCount(size_t count, std::chrono::milliseconds timeout) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::vector<PlatformLogEntry> m_entries;
};

} // namespace TestSupport
