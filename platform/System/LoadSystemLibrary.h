#pragma once
#include "System/ShlObjAPI.h"

#include <windows.h>

namespace Halvex {
namespace internal {

// Loads a library from the Windows system folder by its full path, never
// through the library search path. LOAD_WITH_ALTERED_SEARCH_PATH is taken out
// of the flags. Null for no name, an unknown system folder or a failed load.
HMODULE LoadSystemLibrary(const wchar_t* fileName, DWORD flags = 0);
// The same with the system folder found through the given wrapper.
HMODULE LoadSystemLibrary(ShlObjAPI& shell, const wchar_t* fileName, DWORD flags);

} // namespace internal
} // namespace Halvex
