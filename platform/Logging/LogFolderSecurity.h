#pragma once
#include <windows.h>

#include <string>

namespace ETWLogging {

// Makes a logger's own folder and the folders above it. The folders above
// keep the security they inherit, as other programs, perhaps under other
// accounts, make their own folders there. The logger's own folder, when it is
// made here, lets only SYSTEM, the administrators and the account that makes
// it change what is inside (everybody else may read), so that nobody else can
// make names in it; a folder that is there already is used as it is.
// 0 or the Win32 code.
using MakeFolderFn = BOOL(WINAPI*)(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes);
// An empty `makeFolder` is the system's CreateDirectoryW, which makes the
// logger's own folder.
DWORD CreateOwnLogFolder(const std::wstring& folder, MakeFolderFn makeFolder = nullptr);

} // namespace ETWLogging
