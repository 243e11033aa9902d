#pragma once
// A thread that trades one folder for another under the same name while a
// load runs, and trades back once it has ended: the hostile side of a load
// that holds the file but not the way to it.
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace TrustTests {

class FolderSwapper {
public:
    // Trades `target` and `other` (two folders beside each other): as every
    // other load begins, target moves aside and other takes its name; when
    // that load has ended, both go back.
    FolderSwapper(std::wstring target, std::wstring other);
    ~FolderSwapper();
    FolderSwapper(const FolderSwapper&) = delete;
    FolderSwapper& operator=(const FolderSwapper&) = delete;

    // Called by the loading side around each load.
    void loadBegins() { ++m_begun; }
    void loadEnds() { ++m_ended; }

    void stop();
    // Trades made during a load, and trades refused (the first rename).
    long swaps() const { return m_swaps; }
    long refused() const { return m_refused; }

private:
    void run();
    void move(const std::wstring& from, const std::wstring& to);
    // Spins until `counter` differs from `seen`, or the swapper stops.
    long waitPast(const std::atomic<long>& counter, long seen);

    std::wstring m_target, m_other;
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_swaps{0}, m_refused{0}, m_begun{0}, m_ended{0};
    std::thread m_thread;
};

} // namespace TrustTests
