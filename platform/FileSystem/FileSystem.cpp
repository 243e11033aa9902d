#include "FileSystem/FileSystem.h"
#include "FileSystem/FileNamePattern.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <new>
#include <vector>

namespace Halvex {

namespace {

const wchar_t kLongPathPrefix[] = L"\\\\?\\";
const size_t kLongPathPrefixLength = 4;

// GetModuleFileNameW and GetCurrentDirectoryW accept at most this many
// characters; a buffer this large that is still too small means failure.
const size_t kMaxPathCharacters = 32768;

class FindHandle {
public:
    explicit FindHandle(HANDLE handle) : m_handle(handle) {}
    ~FindHandle()
    {
        if (valid())
            FindClose(m_handle);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;

    bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : m_handle(handle) {}
    ~FileHandle()
    {
        if (valid())
            CloseHandle(m_handle);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

bool startsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.compare(0, wcslen(prefix), prefix) == 0;
}

bool isDotName(const std::wstring& name)
{
    return name == L"." || name == L"..";
}

bool moduleFileName(HMODULE module, std::wstring& path)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = GetModuleFileNameW(module, buffer.data(), size);
        if (length == 0)
            return false;
        // A truncated name fills the buffer exactly (and under Wine is not
        // terminated), so only a shorter result is the whole name.
        if (length < size) {
            path.assign(buffer.data(), length);
            return true;
        }
        if (buffer.size() >= kMaxPathCharacters)
            return false;
        buffer.resize(buffer.size() * 2);
    }
}

bool sameText(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// The path the system resolves a name to, links followed; empty when it
// cannot be had.
std::wstring finalPath(const std::wstring& path)
{
    FileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid())
        return {};
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = GetFinalPathNameByHandleW(file.get(), buffer.data(), size, FILE_NAME_NORMALIZED);
        if (length == 0)
            return {};
        if (length < size)
            return std::wstring(buffer.data(), length);
        if (length > kMaxPathCharacters)
            return {};
        buffer.resize(length + 1);
    }
}

// Wine shows a symbolic link of the host's file system to a file as a plain
// file (no FILE_ATTRIBUTE_REPARSE_POINT), follows it when opening, and
// DeleteFileW on it deletes the target. Such an entry resolves to a path
// outside its folder; an entry whose resolved path cannot be had is taken as
// it is listed.
bool resolvesElsewhere(const std::wstring& folderFinal, const std::wstring& entry, const std::wstring& name)
{
    if (folderFinal.empty())
        return false;
    const std::wstring resolved = finalPath(entry);
    if (resolved.empty())
        return false;
    const std::wstring expected = folderFinal + (folderFinal.back() == L'\\' ? L"" : L"\\") + name;
    return !sameText(resolved, expected);
}

} // namespace

bool FileExists(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0')
        return false;
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0')
        return false;
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsRegularFile(const wchar_t* path)
{
    if (path == nullptr)
        return false;
    struct _stat status;
    return _wstat(path, &status) == 0 && (status.st_mode & _S_IFREG) != 0;
}

bool SplitModulePath(HMODULE module, std::wstring& folder, bool keepTrailingBackslash, std::wstring& fileName)
{
    std::wstring path;
    if (!moduleFileName(module, path))
        return false;
    const size_t last = path.rfind(L'\\');
    if (last == std::wstring::npos)
        return false;
    folder = path.substr(0, keepTrailingBackslash ? last + 1 : last);
    fileName = path.substr(last + 1);
    return true;
}

bool GetModuleFolder(HMODULE module, std::wstring& folder, bool keepTrailingBackslash)
{
    std::wstring fileName;
    return SplitModulePath(module, folder, keepTrailingBackslash, fileName);
}

bool GetHostFolder(std::wstring& folder, bool keepTrailingBackslash)
{
    return GetModuleFolder(nullptr, folder, keepTrailingBackslash);
}

std::wstring GetFullPath(const std::wstring& path)
{
    try {
        const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
        if (needed == 0)
            return path;
        std::vector<wchar_t> buffer(needed);
        const DWORD length = GetFullPathNameW(path.c_str(), needed, buffer.data(), nullptr);
        if (length == 0 || length >= needed)
            return path;
        return std::wstring(buffer.data(), length);
    } catch (const std::bad_alloc&) {
        return path;
    }
}

void GetCurrentDirectoryString(std::wstring& text)
{
    text.clear();
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = GetCurrentDirectoryW(size, buffer.data());
        if (length == 0)
            return;
        if (length < size) {
            text.assign(buffer.data(), length);
            return;
        }
        // Too small: the answer is the size needed, terminator included. The
        // folder may have changed in between, so this loops.
        if (length > kMaxPathCharacters)
            return;
        buffer.resize(length);
    }
}

bool CreateDirectoryTree(const wchar_t* path, DWORD* error)
{
    DWORD ignored = 0;
    DWORD& code = error != nullptr ? *error : ignored;

    if (path == nullptr || *path == L'\0') {
        code = ERROR_INVALID_PARAMETER;
        return false;
    }
    if (DirectoryExists(path)) {
        code = ERROR_ALREADY_EXISTS;
        return true;
    }

    const std::wstring given = path;
    std::wstring absolute;
    if (startsWith(given, kLongPathPrefix) || startsWith(given, L"\\\\")) {
        // Long-path and UNC paths are absolute already; putting a drive in
        // front of "\\server\share" would name another folder.
        absolute = given;
    } else if (given.size() >= 2 && given[1] == L':') {
        absolute = given;
    } else {
        std::wstring current;
        GetCurrentDirectoryString(current);
        if (given[0] == L'\\')
            absolute = current.substr(0, 2) + given;
        else
            absolute = current + L"\\" + given;
    }

    code = CreateDirectoryPath(absolute.c_str());
    return code == ERROR_SUCCESS;
}

DWORD CreateDirectoryPath(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0')
        return ERROR_INVALID_PARAMETER;
    const std::wstring full = path;
    if (DirectoryExists(full.c_str()))
        return ERROR_SUCCESS;

    const size_t start = startsWith(full, kLongPathPrefix) ? kLongPathPrefixLength : 0;

    // Every backslash after the first one below the prefix ends a parent
    // folder ("C:\a\b\c": C:\a, then C:\a\b); the full path comes last.
    std::vector<size_t> ends;
    for (size_t i = full.find(L'\\', start); i != std::wstring::npos; i = full.find(L'\\', i + 1))
        ends.push_back(i);
    // Without a backslash there is no absolute path to create: answering 0
    // would report a folder that does not exist.
    if (ends.empty())
        return ERROR_INVALID_PARAMETER;
    ends.erase(ends.begin());
    ends.push_back(full.size());

    // Creation starts below the deepest folder that is there already.
    size_t first = ends.size() - 1;
    while (first > 0 && !DirectoryExists(full.substr(0, ends[first - 1]).c_str()))
        --first;

    for (size_t k = first; k < ends.size(); ++k) {
        const std::wstring folder = full.substr(0, ends[k]);
        if (CreateDirectoryW(folder.c_str(), nullptr))
            continue;
        const DWORD error = GetLastError();
        // CreateDirectoryW says ERROR_ALREADY_EXISTS for a file of that name
        // too; only a folder means the step is done.
        if (error == ERROR_ALREADY_EXISTS && DirectoryExists(folder.c_str()))
            continue;
        return error;
    }
    return ERROR_SUCCESS;
}

bool DeleteFilesByPattern(const wchar_t* pattern, bool recursive)
{
    if (pattern == nullptr || *pattern == L'\0')
        return false;
    const std::wstring text = pattern;
    if (isDotName(text))
        return false;
    const size_t last = text.rfind(L'\\');
    if (last == std::wstring::npos || last + 1 == text.size())
        return false;
    const std::wstring folder = text.substr(0, last + 1);
    const std::wstring namePattern = text.substr(last + 1);

    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileW(text.c_str(), &entry));
    if (!find.valid())
        return false;

    // The folder as the system resolves it, to tell entries that lead out of
    // it; its trailing backslash is kept only for a drive root.
    std::wstring folderName = folder;
    if (folderName.size() > 1 && folderName[folderName.size() - 2] != L':')
        folderName.pop_back();
    const std::wstring folderFinal = finalPath(folderName);

    bool matched = false;
    bool succeeded = true;
    do {
        const std::wstring name = entry.cFileName;
        if (!internal::MatchesFileNamePattern(namePattern, name))
            continue;
        matched = true;
        if (isDotName(name))
            continue;

        const std::wstring full = folder + name;
        const DWORD attributes = entry.dwFileAttributes;
        // A link is removed itself: what it points to is outside this tree,
        // and changing its attributes would change the target's.
        const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!recursive)
                continue;
            if (!link && resolvesElsewhere(folderFinal, full, name)) {
                // A link the platform does not mark: neither followed nor
                // removable by name without touching its target.
                succeeded = false;
            } else if (link) {
                if (!RemoveDirectoryW(full.c_str()))
                    succeeded = false;
            } else if (!RemoveDirectoryTree(full.c_str())) {
                succeeded = false;
            }
        } else {
            if (!link && resolvesElsewhere(folderFinal, full, name)) {
                succeeded = false;
                continue;
            }
            if (!link && (attributes & FILE_ATTRIBUTE_READONLY)) {
                DWORD cleared = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
                SetFileAttributesW(full.c_str(), cleared != 0 ? cleared : FILE_ATTRIBUTE_NORMAL);
            }
            if (!DeleteFileW(full.c_str()))
                succeeded = false;
        }
    } while (FindNextFileW(find.get(), &entry));

    return matched && succeeded;
}

bool RemoveDirectoryTree(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0')
        return false;
    const std::wstring folder = path;
    if (isDotName(folder))
        return false;
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return false;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return RemoveDirectoryW(path) != FALSE;

    if (!DeleteFilesByPattern((folder + L"\\*.*").c_str(), true))
        return false;

    const DWORD now = GetFileAttributesW(path);
    if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_READONLY)) {
        DWORD cleared = now & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        SetFileAttributesW(path, cleared != 0 ? cleared : FILE_ATTRIBUTE_NORMAL);
    }
    return RemoveDirectoryW(path) != FALSE;
}

} // namespace Halvex
