#pragma once
// The way to a file held fast: every folder on it is held open without
// delete sharing, so that none of them can be renamed, moved away or
// replaced by another while the pin lasts. A folder that another handle
// keeps from being held so is left unpinned, and named in the log.
#include "trust/TrustHandles.h"

#include <windows.h>

#include <string>
#include <vector>

namespace Halvex {
namespace trust {

// Whether a reparse point with `tag` is a link: its name stands for another
// place (a symbolic link, a mount point, any name surrogate).
bool TrustReparseTagIsLink(DWORD tag);

class TrustPathPin {
public:
    TrustPathPin() = default;
    TrustPathPin(const TrustPathPin&) = delete;
    TrustPathPin& operator=(const TrustPathPin&) = delete;

    // Pins the folders of `finalPath`, a file's own path as
    // GetFinalPathNameByHandleW gives it ("\\?\X:\..." or "\\?\UNC\..."),
    // from the root down. 0, or the error of the first folder that cannot be
    // opened at all; a folder that is itself a link (a reparse point whose
    // tag makes its name stand for another place) gives 5, since the way
    // through it could be re-pointed. A folder that another handle keeps
    // from being held (one that does not share reading) is looked at but
    // left unpinned. Nothing stays pinned on failure.
    DWORD pin(const std::wstring& finalPath);
    void release()
    {
        m_folders.clear();
        m_unpinned.clear();
    }

    // The folders the last pin had to leave unpinned, from the root down.
    const std::vector<std::wstring>& unpinned() const { return m_unpinned; }

private:
    std::vector<FileHandle> m_folders;
    std::vector<std::wstring> m_unpinned;
};

} // namespace trust
} // namespace Halvex
