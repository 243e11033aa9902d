#pragma once
#include <windows.h>

#include <string>

namespace Ostrand {

// File-system calls behind one injectable seam, so that a search can run over
// a fake file system. The pass-throughs return their call's result unchanged.
class PathAPI {
public:
    virtual ~PathAPI();

    // An existing path that is not a folder; false for a null or empty path.
    virtual bool fileExists(const wchar_t* path);
    virtual bool directoryExists(const wchar_t* path);
    virtual bool isRegularFile(const wchar_t* path);
    virtual bool deleteFiles(const wchar_t* pattern, bool recursive);
    virtual bool createDirectories(const wchar_t* path);
    virtual bool removeDirectory(const wchar_t* path);
    virtual HANDLE createFile(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                              LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                              DWORD flagsAndAttributes, HANDLE templateFile);
    virtual BOOL moveFile(LPCWSTR existingFileName, LPCWSTR newFileName);
    virtual BOOL deleteFile(LPCWSTR fileName);
    virtual BOOL readDirectoryChanges(HANDLE directory, LPVOID buffer, DWORD bufferLength, BOOL watchSubtree,
                                      DWORD notifyFilter, LPDWORD bytesReturned, LPOVERLAPPED overlapped,
                                      LPOVERLAPPED_COMPLETION_ROUTINE completionRoutine);
    virtual LPWSTR pathFindFileName(LPCWSTR path);
    virtual DWORD getLongPathName(LPCWSTR shortPath, LPWSTR longPath, DWORD bufferLength);
    virtual DWORD sleepEx(DWORD milliseconds, BOOL alertable);
    virtual BOOL cancelIoEx(HANDLE file, LPOVERLAPPED overlapped);
    virtual BOOL closeHandle(HANDLE handle);
    virtual HANDLE findFirstFile(LPCWSTR pattern, LPWIN32_FIND_DATAW findData);
    virtual BOOL findNextFile(HANDLE find, LPWIN32_FIND_DATAW findData);
    virtual BOOL findClose(HANDLE find);
    virtual DWORD getLastError();

    // Reads a whole file as text, one character per byte, with CR LF read as
    // LF (a lone CR stays). True only when every byte was read; the text then holds exactly what
    // was read. On false the text is left as it was.
    virtual bool readFile(const std::wstring& path, std::wstring& text);
    // Replaces a file with the text up to its first NUL, one byte per
    // character, LF written as CR LF. True only when everything reached the
    // file. A character above 0xFF cannot be written that way: refused before
    // the file is touched.
    virtual bool writeFile(const std::wstring& path, const std::wstring& text);
};

} // namespace Ostrand
