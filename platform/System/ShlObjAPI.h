#pragma once
#include <windows.h>
#include <shlobj.h>

namespace Halvex {

// The platform library's seam over the shell's known-folder lookup, so that
// tests can give a class a system or profile folder of their own.
class ShlObjAPI {
public:
    virtual ~ShlObjAPI() = default;

    // Passes the call through. The caller frees *path with CoTaskMemFree,
    // whatever the result, when it is not null.
    virtual HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID folder, DWORD flags, HANDLE token, PWSTR* path);
};

} // namespace Halvex
