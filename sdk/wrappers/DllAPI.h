#pragma once
#include <windows.h>

#include <string>

namespace Ostrand {

// Library calls behind one injectable seam. Loading always goes through the
// signature check: nothing here maps a file whose signer was not verified.
class DllAPI {
public:
    virtual ~DllAPI();

    // True with the handle set when the verified load succeeded; false (and
    // a level-4 line with the last error) otherwise.
    virtual bool loadLibrary(const std::wstring& path, HMODULE* handle);
    virtual FARPROC getProcAddress(HMODULE module, const char* name);
    // False for an empty path; true when the file's signature is trusted.
    virtual bool isTrusted(const std::wstring& path);
    virtual bool freeLibrary(HMODULE module);
    virtual bool getModuleHandleEx(DWORD flags, LPCWSTR name, HMODULE* handle);
};

} // namespace Ostrand
