#pragma once
#include "System/ShlObjAPI.h"

#include <string>

namespace Halvex {
namespace internal {

// The path of a known folder through the wrapper (flags 0, no token); false
// when the lookup fails or yields no text. The wrapper's buffer is freed
// whenever one came back.
bool GetKnownFolderPath(ShlObjAPI& shell, REFKNOWNFOLDERID folder, std::wstring& path);

} // namespace internal
} // namespace Halvex
