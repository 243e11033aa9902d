#include "RegistryFileLock.h"

#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace Ostrand {

namespace {

const wchar_t kLockSuffix[] = L".lock";

bool lockFile(HANDLE file, DWORD flags)
{
    OVERLAPPED range = {};
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | flags, 0, 1, 0, &range) != FALSE;
}

void unlockFile(HANDLE file)
{
    OVERLAPPED range = {};
    UnlockFileEx(file, 0, 1, 0, &range);
}

} // namespace

// One wait for the lock, shared by the run and the thread that blocks in it:
// whichever of the two decides first (granted, refused, or given up) decides.
struct RegistryFileLock::Turn {
    enum class State { Waiting, Granted, Refused, GivenUp };

    std::shared_ptr<void> file;
    std::mutex mutex;
    std::condition_variable decided;
    State state = State::Waiting;
    DWORD error = 0;
};

RegistryFileLock::RegistryFileLock(std::wstring lockFile) : m_path(std::move(lockFile)) {}

RegistryFileLock::~RegistryFileLock() { release(); }

std::wstring RegistryFileLock::lockFileFor(const std::wstring& registryFile) { return registryFile + kLockSuffix; }

RegistryFileLock::Result RegistryFileLock::acquire(std::chrono::milliseconds bound)
{
    if (m_held)
        return Result::Held;
    if (!m_file) {
        // Shared for reading and writing so that every run can open it at
        // once; never for deletion, so that it stays while anyone holds it.
        const HANDLE file = CreateFileW(m_path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            m_error = GetLastError();
            return Result::Failed;
        }
        m_file.reset(file, [](void* handle) { CloseHandle(handle); });
    }
    if (lockFile(m_file.get(), LOCKFILE_FAIL_IMMEDIATELY)) {
        m_held = true;
        return Result::Held;
    }
    if (bound.count() <= 0)
        return Result::TimedOut;

    // An overlapped lock request would give a wait with a time-out, but under
    // Wine it never completes. So a thread of its own blocks in the lock and
    // this one waits for it with the bound. A thread given up on lets go of
    // the lock as soon as it gets it, and closes its handle.
    const std::shared_ptr<Turn> turn = std::make_shared<Turn>();
    turn->file = m_file;
    try {
        std::thread([turn] {
            const bool locked = lockFile(turn->file.get(), 0);
            const DWORD error = locked ? ERROR_SUCCESS : GetLastError();
            std::lock_guard<std::mutex> guard(turn->mutex);
            if (turn->state == Turn::State::Waiting) {
                turn->state = locked ? Turn::State::Granted : Turn::State::Refused;
                turn->error = error;
                turn->decided.notify_all();
            } else if (locked) {
                unlockFile(turn->file.get());
            }
        }).detach();
    } catch (const std::system_error& failure) {
        m_error = static_cast<unsigned long>(failure.code().value());
        return Result::Failed;
    }

    std::unique_lock<std::mutex> guard(turn->mutex);
    turn->decided.wait_for(guard, bound, [&turn] { return turn->state != Turn::State::Waiting; });
    switch (turn->state) {
    case Turn::State::Granted:
        m_held = true;
        return Result::Held;
    case Turn::State::Refused:
        m_error = turn->error;
        return Result::Failed;
    default:
        // The handle stays with the waiting thread; a later acquire opens
        // one of its own.
        turn->state = Turn::State::GivenUp;
        m_file.reset();
        return Result::TimedOut;
    }
}

void RegistryFileLock::release()
{
    if (!m_held)
        return;
    unlockFile(m_file.get());
    m_held = false;
}

} // namespace Ostrand
