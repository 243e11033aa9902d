#pragma once
// A file held from its check to its use: opened once, shared for reading
// only, so nobody can write to it, rename it, replace it or delete it; the
// folders on the way to it pinned, so its path keeps naming it; and every
// module handed out proved to be mapped from it.
#include "trust/TrustHandles.h"
#include "trust/TrustPathPin.h"

#include <windows.h>

#include <string>

namespace Halvex {
namespace trust {

// The flags a checked library is loaded with: a caller's own choice of
// LOAD_LIBRARY_SEARCH_* folders is kept, and so is a load of which nothing
// runs (as data, as a resource); otherwise (flags 0, the altered search) its
// imports are looked for in its own folder, the program's folder and the
// system folder only, never in the current folder or the PATH folders.
DWORD TrustCheckedLoadFlags(DWORD flags);

class TrustHeldFile {
public:
    TrustHeldFile() = default;
    ~TrustHeldFile();
    TrustHeldFile(const TrustHeldFile&) = delete;
    TrustHeldFile& operator=(const TrustHeldFile&) = delete;

    // Holds the file `path` names and pins the way to it. 0; 87 for no
    // path; 32 when another handle keeps the file or a folder on its way
    // from being held so; 5 for anything else (no such file, a link on the
    // way, a path that no longer names the held file once pinned).
    DWORD hold(const std::wstring& path);

    // The held file's own full path (links and short names resolved): what
    // it is checked and loaded under.
    const std::wstring& path() const { return m_path; }
    HANDLE handle() const { return m_file.get(); }

    // Whether `module` (an image or a data mapping) is mapped from the held
    // file itself, by the file's identity, never by a name; a data mapping
    // the system cannot match to its file counts when it holds the held
    // file's bytes, every one.
    bool isMappedFrom(HMODULE module);

    // The held file's bytes, mapped as data for as long as it is held; null
    // when it cannot be mapped (an empty file, say).
    const BYTE* bytes(SIZE_T& size);

    // LoadLibraryExW of the held file, by its own path, with
    // TrustCheckedLoadFlags(flags). A module of another
    // file already mapped under that path is not handed out; a module the
    // loader gives that is not mapped from the held file is freed again.
    // Both answer null with last error 5.
    HMODULE load(DWORD flags);

    void release();

private:
    FileHandle m_file;
    TrustPathPin m_pin;
    std::wstring m_path;     // "X:\...", or "\\?\..." when too long for that
    std::wstring m_loadPath; // m_path, with a trailing dot when it has no extension
    FileHandle m_mapping;
    const void* m_view = nullptr; // the whole held file, as data
    SIZE_T m_size = 0;
};

} // namespace trust
} // namespace Halvex
