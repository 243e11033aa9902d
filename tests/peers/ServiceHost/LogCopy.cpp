#include "LogCopy.h"

#include "ConsoleLine.h"

#include <vector>

namespace ServiceHost {

LogCopy::LogCopy(const ToolLogFolder& log, const std::wstring& path) : m_log(log)
{
    m_file = _wfopen(path.c_str(), L"wb");
}

LogCopy::~LogCopy()
{
    if (m_file)
        std::fclose(m_file);
}

bool LogCopy::update()
{
    return copy(false);
}

bool LogCopy::finish()
{
    if (!copy(true))
        return false;
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    return closed;
}

bool LogCopy::copy(bool all)
{
    if (!m_file || m_failed)
        return false;
    const std::vector<TestSupport::LogLine> lines = m_log.lines();
    // A rotated-away file takes its lines with it; go on from what is there.
    if (lines.size() < m_copied)
        m_copied = lines.size();
    // The last line may still be growing while it is new.
    const size_t upTo = all || lines.size() == m_lastSeen ? lines.size() : lines.size() - (lines.empty() ? 0 : 1);
    m_lastSeen = lines.size();
    for (; m_copied < upTo; ++m_copied) {
        const TestSupport::LogLine& line = lines[m_copied];
        const std::string text = PeerProgram::utf8(line.timestamp + L"  " + line.level + L"  " + line.function +
                                                   L": " + line.text) +
                                 "\n";
        if (std::fwrite(text.data(), 1, text.size(), m_file) != text.size())
            m_failed = true;
    }
    if (std::fflush(m_file) != 0)
        m_failed = true;
    return !m_failed;
}

} // namespace ServiceHost
