#pragma once
// A thread that keeps replacing one file with copies of two others, in turn,
// as fast as the file system lets it: the hostile side of a check-then-load.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace TrustTests {

class FileSwapper {
public:
    // Replaces `target` with copies of `first` and `second`, alternately,
    // each copy made beside it first and renamed over it.
    FileSwapper(std::wstring target, std::wstring first, std::wstring second);
    ~FileSwapper();
    FileSwapper(const FileSwapper&) = delete;
    FileSwapper& operator=(const FileSwapper&) = delete;

    void stop();
    // Renames over the target that succeeded, and those refused.
    long swaps() const { return m_swaps; }
    long refused() const { return m_refused; }

private:
    void run();

    std::wstring m_target, m_first, m_second;
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_swaps{0}, m_refused{0};
    std::thread m_thread;
};

} // namespace TrustTests
