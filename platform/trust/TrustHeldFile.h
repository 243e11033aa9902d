#pragma once
// A file held open from its check to its load: while the handle is held,
// nobody can write to it, replace it or delete it, so the file mapped is the
// file checked.
#include "trust/TrustHandles.h"

#include <windows.h>

#include <string>

namespace Halvex {
namespace trust {

// Opens `path` for reading, shared for reading only. Invalid (last error set)
// when it cannot be held that way.
FileHandle TrustHoldFile(const std::wstring& path);

// LoadLibraryExW of `fullPath`, which the caller holds. The module's own file
// name must be `fullPath`; otherwise it is freed again and the answer is null
// with last error 5.
HMODULE TrustLoadHeldFile(const std::wstring& fullPath, DWORD flags);

} // namespace trust
} // namespace Halvex
