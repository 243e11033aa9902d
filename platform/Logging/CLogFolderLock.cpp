#include "Logging/CLogFolderLock.h"
#include "FileSystem/FileSystem.h"

#include <cstdint>

namespace ETWLogging {

namespace {

// Processes of every session (the service's and the tools') share the folders.
const wchar_t kNamePrefix[] = L"Global\\Corvane.CVLOGS.";
const wchar_t kLongPathPrefix[] = L"\\\\?\\";

std::wstring upperCase(const std::wstring& text)
{
    if (text.empty())
        return text;
    const int length = static_cast<int>(text.size());
    std::wstring folded(text.size(), L'\0');
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, text.c_str(), length, &folded[0], length) != length)
        return text;
    return folded;
}

} // namespace

std::wstring CLogFolderLock::NameFor(const std::wstring& folder)
{
    std::wstring path = Halvex::GetFullPath(folder);
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    if (path.compare(0, 4, kLongPathPrefix) == 0 && path.size() >= 6 && path[5] == L':')
        path.erase(0, 4);
    while (path.size() > 3 && path.back() == L'\\')
        path.pop_back();
    path = upperCase(path);

    // A kernel object's name may hold no backslash and at most MAX_PATH
    // characters: the path is hashed (64-bit FNV-1a over its UTF-16 units).
    uint64_t hash = 14695981039346656037ull;
    for (wchar_t c : path) {
        hash ^= static_cast<uint16_t>(c);
        hash *= 1099511628211ull;
    }
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring name = kNamePrefix;
    for (int shift = 60; shift >= 0; shift -= 4)
        name += kDigits[(hash >> shift) & 0xF];
    return name;
}

bool CLogFolderLock::Open(const std::wstring& folder)
{
    Close();
    // Only the rights to wait and to release: a mutex that a process of
    // another account made may grant no more.
    m_mutex = CreateMutexExW(nullptr, NameFor(folder).c_str(), 0, SYNCHRONIZE | MUTEX_MODIFY_STATE);
    return m_mutex != nullptr;
}

void CLogFolderLock::Close()
{
    if (m_mutex)
        CloseHandle(m_mutex);
    m_mutex = nullptr;
}

CLogFolderLock::Guard::Guard(CLogFolderLock& lock, DWORD wait)
{
    if (!lock.m_mutex)
        return;
    // An owner that ended without releasing leaves the mutex abandoned: it is
    // then ours, and its half-done line is no reason to wait any longer.
    const DWORD result = WaitForSingleObject(lock.m_mutex, wait);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
        m_held = lock.m_mutex;
}

CLogFolderLock::Guard::~Guard()
{
    if (m_held)
        ReleaseMutex(m_held);
}

} // namespace ETWLogging
