#pragma once
#include "wrappers/DllAPI.h"

#include <windows.h>

#include <memory>
#include <string>

namespace Ostrand {

// Loads, resolves and frees libraries over the library wrapper, logging each
// failure and letting nothing thrown by the wrapper out.
class DllLoader {
public:
    // An empty wrapper is replaced by the system's.
    explicit DllLoader(std::shared_ptr<DllAPI> dllApi = {});
    virtual ~DllLoader();
    DllLoader(const DllLoader&) = delete;
    DllLoader& operator=(const DllLoader&) = delete;

    // Loads `path` only when its file is trusted. A library already loaded
    // under that path gains a reference only when it is mapped from that
    // trusted file: anything may have loaded it, and its file may have been
    // replaced since.
    virtual bool loadDLL(const std::wstring& path, HMODULE* handle);
    // Null when the export is missing or the lookup failed.
    virtual FARPROC getProcAddress(HMODULE module, const char* name);
    virtual bool freeDLL(HMODULE module);

private:
    std::shared_ptr<DllAPI> m_dllApi;
};

} // namespace Ostrand
