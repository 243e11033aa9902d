#include "RegistryFileLock.h"

#include <windows.h>

#include <cstring>
#include <utility>

namespace Ostrand {

namespace {

const wchar_t kLockSuffix[] = L".lock";
// The whole content of a lock file while the component is being removed;
// an empty lock file carries no mark.
const char kRemovalMark[] = "The component is being removed.\r\n";
constexpr DWORD kRemovalMarkSize = sizeof(kRemovalMark) - 1;

OVERLAPPED at(unsigned long long offset)
{
    OVERLAPPED position = {};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

std::shared_ptr<void> owned(HANDLE file)
{
    return std::shared_ptr<void>(file, [](void* handle) { CloseHandle(handle); });
}

} // namespace

RegistryFileLock::RegistryFileLock(std::wstring lockFile) : m_path(std::move(lockFile)) {}

RegistryFileLock::~RegistryFileLock() { release(); }

std::wstring RegistryFileLock::lockFileFor(const std::wstring& registryFile) { return registryFile + kLockSuffix; }

RegistryFileLock::Result RegistryFileLock::failedOrBusy()
{
    m_error = GetLastError();
    // What only holds the file for now (a copy, a backup) is waited for like
    // a run in its turn.
    return m_error == ERROR_SHARING_VIOLATION || m_error == ERROR_LOCK_VIOLATION ? Result::Busy : Result::Failed;
}

RegistryFileLock::Result RegistryFileLock::open(std::shared_ptr<void>& handle, unsigned long access,
                                                unsigned long disposition) const
{
    // Never shared for deletion, so that the file stays while anyone holds it.
    const HANDLE file = CreateFileW(m_path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Result::Failed;
    handle = owned(file);
    return Result::Done;
}

RegistryFileLock::Result RegistryFileLock::tryAcquire()
{
    if (m_held)
        return Result::Done;
    // A byte-range lock needs no more than reading, so a read-only lock file
    // serves, and so does one that others hold for reading or writing.
    if (!m_file && open(m_file, GENERIC_READ, OPEN_ALWAYS) != Result::Done)
        return failedOrBusy();
    OVERLAPPED range = at(kTurnOffset);
    if (LockFileEx(m_file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range)) {
        m_held = true;
        return Result::Done;
    }
    return failedOrBusy();
}

void RegistryFileLock::release()
{
    m_markFile.reset();
    if (!m_held)
        return;
    OVERLAPPED range = at(kTurnOffset);
    UnlockFileEx(m_file.get(), 0, 1, 0, &range);
    m_held = false;
}

bool RegistryFileLock::removalMarked() const
{
    if (!m_file)
        return false;
    char content[kRemovalMarkSize + 1] = {};
    OVERLAPPED start = at(0);
    DWORD read = 0;
    if (!ReadFile(m_file.get(), content, sizeof(content), &read, &start))
        return false;
    return read == kRemovalMarkSize && std::memcmp(content, kRemovalMark, kRemovalMarkSize) == 0;
}

RegistryFileLock::Result RegistryFileLock::markRemoval()
{
    if (!m_held) {
        m_error = ERROR_NOT_LOCKED;
        return Result::Failed;
    }
    if (!m_markFile && open(m_markFile, GENERIC_WRITE, OPEN_EXISTING) != Result::Done)
        return failedOrBusy();
    // On the disk before the installer starts: a mark lost with the power
    // would let a registration into a component that is going.
    OVERLAPPED start = at(0);
    DWORD written = 0;
    LARGE_INTEGER end = {};
    end.QuadPart = kRemovalMarkSize;
    if (!WriteFile(m_markFile.get(), kRemovalMark, kRemovalMarkSize, &written, &start) ||
        written != kRemovalMarkSize || !SetFilePointerEx(m_markFile.get(), end, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(m_markFile.get()) || !FlushFileBuffers(m_markFile.get())) {
        const DWORD error = GetLastError();
        unmarkRemoval();
        m_error = error;
        return Result::Failed;
    }
    return Result::Done;
}

bool RegistryFileLock::unmarkRemoval()
{
    if (!m_markFile)
        return false;
    LARGE_INTEGER start = {};
    const bool emptied = SetFilePointerEx(m_markFile.get(), start, nullptr, FILE_BEGIN) &&
                         SetEndOfFile(m_markFile.get()) && FlushFileBuffers(m_markFile.get());
    if (!emptied)
        m_error = GetLastError();
    m_markFile.reset();
    return emptied;
}

} // namespace Ostrand
