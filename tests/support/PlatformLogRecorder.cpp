#include "PlatformLogRecorder.h"

#include <gtest/gtest.h>

namespace TestSupport {

PlatformLogRecorder::PlatformLogRecorder()
{
    EXPECT_EQ(Halvex::CLogger::RegisterHandler(this), 0u) << "another handler is registered";
}

PlatformLogRecorder::~PlatformLogRecorder()
{
    Halvex::CLogger::UnregisterHandler(this);
}

uint32_t PlatformLogRecorder::Log(uint32_t type, const wchar_t* file, const wchar_t* function, int32_t line,
                                  const wchar_t* message)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.push_back({type, file ? file : L"", function ? function : L"", line, message ? message : L""});
    }
    m_changed.notify_all();
    return 0;
}

std::vector<PlatformLogEntry> PlatformLogRecorder::entries() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries;
}

bool PlatformLogRecorder::waitForCount(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_entries.size() >= count; });
}

} // namespace TestSupport
