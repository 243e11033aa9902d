#pragma once
#include <windows.h>

#include <string>

namespace Ostrand {
namespace internal {

// The full path of a loaded module (null: the program); empty when it cannot
// be read. Never a truncated path: a result that fills the buffer is not
// NUL-terminated under Wine and is read again into a larger one.
std::wstring modulePath(HMODULE module);

} // namespace internal
} // namespace Ostrand
