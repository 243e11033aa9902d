#pragma once
// The one file a library name stands for, worked out before the file is
// checked, so that the file checked and the file loaded are the same.
#include <windows.h>

#include <string>

namespace Halvex {
namespace trust {

// The full path the loader would map for `name` loaded with `flags`: a name
// that starts with a drive or a backslash is made full as GetFullPathNameW
// does; a bare name or a relative path is looked for where the loader looks,
// appended to each search folder in turn (the folders the
// LOAD_LIBRARY_SEARCH_* flags name, else the program's folder, the system
// folder, the Windows folder, the current folder and the PATH folders); a
// bare name that is already loaded stands for the loaded module's file.
// False with the last error set when there is no such file.
bool TrustResolveLibraryPath(const wchar_t* name, DWORD flags, std::wstring& fullPath);

// Whether the last component of `path` (after the last "\" or "/") has an
// extension: the loader adds ".dll" to one that has none (a dot in a
// folder's name is no extension). A trailing dot means "no extension": in a
// plain or "\\.\" path it is dropped as the path is made full; in a "\\?\"
// path, which is never normalised, it stays part of the name.
bool TrustHasExtension(const std::wstring& path);

// GetFullPathNameW into a string; empty on failure.
std::wstring TrustFullPathName(const std::wstring& path);

// GetModuleFileNameW of any length; false on failure.
bool TrustModuleFileName(HMODULE module, std::wstring& path);

} // namespace trust
} // namespace Halvex
