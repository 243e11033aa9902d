#include "FolderSwapper.h"

namespace TrustTests {

FolderSwapper::FolderSwapper(std::wstring target, std::wstring other)
    : m_target(std::move(target)), m_other(std::move(other))
{
    m_thread = std::thread([this] { run(); });
}

FolderSwapper::~FolderSwapper()
{
    stop();
}

void FolderSwapper::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

// Keeps trying one rename until it is done, so that a trade once begun is
// always finished and the folders end under their own names: a refusal can
// only come from a load in progress, which lets go when it ends.
void FolderSwapper::move(const std::wstring& from, const std::wstring& to)
{
    while (!MoveFileExW(from.c_str(), to.c_str(), 0))
        SwitchToThread();
}

long FolderSwapper::waitPast(const std::atomic<long>& counter, long seen)
{
    long now = counter;
    while (!m_stop && now == seen) {
        SwitchToThread();
        now = counter;
    }
    return now;
}

void FolderSwapper::run()
{
    const std::wstring aside = m_target + L"-aside";
    long begun = 0;
    while (!m_stop) {
        begun = waitPast(m_begun, begun);
        if (m_stop)
            break;
        // Every other load is left alone, so that loads are seen to get
        // through as well as to be raced.
        if (begun % 2 == 0)
            continue;
        // The rename a pinned folder refuses.
        if (!MoveFileExW(m_target.c_str(), aside.c_str(), 0)) {
            ++m_refused;
            continue;
        }
        move(m_other, m_target);
        while (!m_stop && m_ended < begun)
            SwitchToThread();
        move(m_target, m_other);
        move(aside, m_target);
        ++m_swaps;
    }
}

} // namespace TrustTests
