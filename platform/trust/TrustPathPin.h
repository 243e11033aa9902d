#pragma once
// The way to a file held fast: every folder on it is held open without
// delete sharing, so that none of them can be renamed, moved away or
// replaced by another while the pin lasts.
#include "trust/TrustHandles.h"

#include <windows.h>

#include <string>
#include <vector>

namespace Halvex {
namespace trust {

class TrustPathPin {
public:
    TrustPathPin() = default;
    TrustPathPin(const TrustPathPin&) = delete;
    TrustPathPin& operator=(const TrustPathPin&) = delete;

    // Pins the folders of `finalPath`, a file's own path as
    // GetFinalPathNameByHandleW gives it ("\\?\X:\..." or "\\?\UNC\..."),
    // from the root down. 0, or the error of the first folder that cannot be
    // held (32 when another handle keeps it from being held that way); a
    // folder that is itself a link (a reparse point) gives 5, since the way
    // through it could be re-pointed. Nothing stays pinned on failure.
    DWORD pin(const std::wstring& finalPath);
    void release() { m_folders.clear(); }

private:
    std::vector<FileHandle> m_folders;
};

} // namespace trust
} // namespace Halvex
