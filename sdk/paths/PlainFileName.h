#pragma once
#include <string>

namespace Ostrand {

// True when `name` names a file by itself, and names the file the file system
// will open under that very spelling: no folder part (no separator, no drive,
// no ".."), no alternate stream, no wildcard or other character a file name
// cannot hold, no trailing dot or blank (which the file system drops), no
// device name, and not longer than a file name can be.
bool IsPlainFileName(const std::wstring& name);

} // namespace Ostrand
