#include "wrappers/PathAPI.h"

#include "FileSystem/FileSystem.h"

#include <shlwapi.h>
#include <share.h>

#include <cstdio>
#include <new>
#include <string>

namespace Ostrand {

namespace {

class StdioFile {
public:
    explicit StdioFile(FILE* file) : m_file(file) {}
    ~StdioFile()
    {
        if (m_file)
            fclose(m_file);
    }
    StdioFile(const StdioFile&) = delete;
    StdioFile& operator=(const StdioFile&) = delete;

    FILE* get() const { return m_file; }
    // Closes now and says whether the buffered rest reached the file.
    bool close()
    {
        FILE* file = m_file;
        m_file = nullptr;
        return file && fclose(file) == 0;
    }

private:
    FILE* m_file;
};

// A path with a NUL inside would open another file than the one named.
bool usablePath(const std::wstring& path)
{
    return !path.empty() && path.find(L'\0') == std::wstring::npos;
}

} // namespace

PathAPI::~PathAPI() = default;

bool PathAPI::fileExists(const wchar_t* path)
{
    return Halvex::FileExists(path);
}

bool PathAPI::directoryExists(const wchar_t* path)
{
    return Halvex::DirectoryExists(path);
}

bool PathAPI::isRegularFile(const wchar_t* path)
{
    return Halvex::IsRegularFile(path);
}

bool PathAPI::deleteFiles(const wchar_t* pattern, bool recursive)
{
    return Halvex::DeleteFilesByPattern(pattern, recursive);
}

bool PathAPI::createDirectories(const wchar_t* path)
{
    return Halvex::CreateDirectoryTree(path, nullptr);
}

bool PathAPI::removeDirectory(const wchar_t* path)
{
    return Halvex::RemoveDirectoryTree(path);
}

HANDLE PathAPI::createFile(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                           LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                           DWORD flagsAndAttributes, HANDLE templateFile)
{
    return ::CreateFileW(fileName, desiredAccess, shareMode, securityAttributes, creationDisposition,
                         flagsAndAttributes, templateFile);
}

BOOL PathAPI::moveFile(LPCWSTR existingFileName, LPCWSTR newFileName)
{
    return ::MoveFileW(existingFileName, newFileName);
}

BOOL PathAPI::deleteFile(LPCWSTR fileName)
{
    return ::DeleteFileW(fileName);
}

BOOL PathAPI::readDirectoryChanges(HANDLE directory, LPVOID buffer, DWORD bufferLength, BOOL watchSubtree,
                                   DWORD notifyFilter, LPDWORD bytesReturned, LPOVERLAPPED overlapped,
                                   LPOVERLAPPED_COMPLETION_ROUTINE completionRoutine)
{
    return ::ReadDirectoryChangesW(directory, buffer, bufferLength, watchSubtree, notifyFilter, bytesReturned,
                                   overlapped, completionRoutine);
}

LPWSTR PathAPI::pathFindFileName(LPCWSTR path)
{
    return ::PathFindFileNameW(path);
}

DWORD PathAPI::getLongPathName(LPCWSTR shortPath, LPWSTR longPath, DWORD bufferLength)
{
    return ::GetLongPathNameW(shortPath, longPath, bufferLength);
}

DWORD PathAPI::sleepEx(DWORD milliseconds, BOOL alertable)
{
    return ::SleepEx(milliseconds, alertable);
}

BOOL PathAPI::cancelIoEx(HANDLE file, LPOVERLAPPED overlapped)
{
    return ::CancelIoEx(file, overlapped);
}

BOOL PathAPI::closeHandle(HANDLE handle)
{
    return ::CloseHandle(handle);
}

HANDLE PathAPI::findFirstFile(LPCWSTR pattern, LPWIN32_FIND_DATAW findData)
{
    return ::FindFirstFileW(pattern, findData);
}

BOOL PathAPI::findNextFile(HANDLE find, LPWIN32_FIND_DATAW findData)
{
    return ::FindNextFileW(find, findData);
}

BOOL PathAPI::findClose(HANDLE find)
{
    return ::FindClose(find);
}

DWORD PathAPI::getLastError()
{
    return ::GetLastError();
}

// Binary reads with the line-end translation done here: the C runtime's text
// mode would also end the text at the first Ctrl-Z and report that as a whole
// read. The text grows only by what each read delivered, so a shorter result
// than the file size never leaves padding or earlier contents behind.
bool PathAPI::readFile(const std::wstring& path, std::wstring& text)
{
    if (!usablePath(path))
        return false;
    StdioFile file(_wfsopen(path.c_str(), L"rb", _SH_DENYNO));
    if (!file.get())
        return false;
    try {
        std::wstring result;
        bool pendingCarriageReturn = false;
        char chunk[4096];
        for (;;) {
            const size_t count = fread(chunk, 1, sizeof(chunk), file.get());
            for (size_t i = 0; i < count; ++i) {
                const wchar_t c = static_cast<wchar_t>(static_cast<unsigned char>(chunk[i]));
                if (pendingCarriageReturn && c != L'\n')
                    result.push_back(L'\r');
                pendingCarriageReturn = c == L'\r';
                if (!pendingCarriageReturn)
                    result.push_back(c);
            }
            if (count < sizeof(chunk))
                break;
        }
        if (ferror(file.get()))
            return false;
        if (pendingCarriageReturn)
            result.push_back(L'\r');
        text.swap(result);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool PathAPI::writeFile(const std::wstring& path, const std::wstring& text)
{
    if (!usablePath(path))
        return false;
    const std::wstring::size_type nul = text.find(L'\0');
    const std::wstring::size_type end = nul == std::wstring::npos ? text.size() : nul;
    std::string bytes;
    try {
        bytes.reserve(end);
        for (std::wstring::size_type i = 0; i < end; ++i) {
            if (text[i] > 0xFF)
                return false;
            if (text[i] == L'\n')
                bytes.push_back('\r');
            bytes.push_back(static_cast<char>(text[i]));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    StdioFile file(_wfsopen(path.c_str(), L"wb", _SH_DENYNO));
    if (!file.get())
        return false;
    const bool written = fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    const bool flushed = fflush(file.get()) == 0;
    const bool closed = file.close();
    return written && flushed && closed;
}

} // namespace Ostrand
