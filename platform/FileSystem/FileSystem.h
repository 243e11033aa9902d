#pragma once
#include <windows.h>

#include <string>

namespace Halvex {

// Files and folders. Every function takes a wide path that may be null and
// answers false (or a Win32 code) for a bad one; none throws.

// An existing path that is not a folder.
bool FileExists(const wchar_t* path);
// An existing folder.
bool DirectoryExists(const wchar_t* path);
// A path that _wstat reports as a regular file.
bool IsRegularFile(const wchar_t* path);

// Splits the full path of a loaded module (null: the program of the process)
// at its last backslash. False, with both outputs unchanged, when the path
// cannot be had or holds no backslash.
bool SplitModulePath(HMODULE module, std::wstring& folder, bool keepTrailingBackslash, std::wstring& fileName);
bool GetModuleFolder(HMODULE module, std::wstring& folder, bool keepTrailingBackslash);
// The folder of the program that hosts the process.
bool GetHostFolder(std::wstring& folder, bool keepTrailingBackslash);

// The full path of a path (relative ones taken from the current folder, "."
// and ".." resolved, "/" made "\"); the path as given when that fails.
std::wstring GetFullPath(const std::wstring& path);

// The current folder; empty when it cannot be had.
void GetCurrentDirectoryString(std::wstring& text);

// Creates a folder and every missing parent. The path may be relative to the
// current folder ("logs", "a\b") or to the current drive ("\logs"). The error
// out (may be null) receives 0 on creation, ERROR_ALREADY_EXISTS (with true)
// when the folder was there already, ERROR_INVALID_PARAMETER for no path, else
// the first error on the way down (ERROR_ALREADY_EXISTS, with false, when a
// file stands where a folder is wanted).
bool CreateDirectoryTree(const wchar_t* path, DWORD* error);
// Creates every missing folder of an absolute path; 0 when the folder exists
// afterwards, else a Win32 code.
DWORD CreateDirectoryPath(const wchar_t* path);

// Deletes the files whose long names match the pattern's last part in the
// pattern's folder (read-only ones too); with recursive, matching folders are
// removed as whole trees. Links (symbolic links, junctions) are removed
// themselves, never followed. True only when something matched and every
// attempted delete succeeded.
bool DeleteFilesByPattern(const wchar_t* pattern, bool recursive);
// Removes a folder with everything in it; a link to a folder is removed
// without touching what it points to.
bool RemoveDirectoryTree(const wchar_t* path);

} // namespace Halvex
