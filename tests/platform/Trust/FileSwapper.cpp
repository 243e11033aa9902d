#include "FileSwapper.h"

namespace TrustTests {

FileSwapper::FileSwapper(std::wstring target, std::wstring first, std::wstring second)
    : m_target(std::move(target)), m_first(std::move(first)), m_second(std::move(second))
{
    m_thread = std::thread([this] { run(); });
}

FileSwapper::~FileSwapper()
{
    stop();
}

void FileSwapper::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void FileSwapper::run()
{
    const std::wstring staged = m_target + L".next";
    bool useFirst = true;
    while (!m_stop) {
        if (!CopyFileW((useFirst ? m_first : m_second).c_str(), staged.c_str(), FALSE)) {
            ++m_refused;
            continue;
        }
        if (MoveFileExW(staged.c_str(), m_target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            ++m_swaps;
            useFirst = !useFirst;
        } else {
            ++m_refused;
        }
    }
    DeleteFileW(staged.c_str());
}

} // namespace TrustTests
