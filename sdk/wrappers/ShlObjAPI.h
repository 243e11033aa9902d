#pragma once
#include <windows.h>
#include <shlobj.h>

namespace Ostrand {

// The shell's folder lookup behind an injectable seam.
class ShlObjAPI {
public:
    virtual ~ShlObjAPI();

    // The system call unchanged; the caller frees a returned path with
    // CoTaskMemFree, also when the result is a failure.
    virtual HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID folderId, DWORD flags, HANDLE token, PWSTR* path);
};

} // namespace Ostrand
