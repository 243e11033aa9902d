#pragma once
#include "ModuleFunctions.h"

#include <windows.h>

#include <string>

namespace ServiceHost {

// One module of a module library, driven through its table the way the host
// framework drives it; every entry it calls is reported as a console line.
class HostedModule {
public:
    explicit HostedModule(const std::wstring& libraryPath);
    ~HostedModule();
    HostedModule(const HostedModule&) = delete;
    HostedModule& operator=(const HostedModule&) = delete;

    // Loads the library, then NewModule, InitializeModule and StartModule
    // with `name`; false at the first failure, with the reason in error().
    bool start(const std::wstring& name);
    // StopModule, UninitializeModule and DestroyModule; false when one failed.
    bool stop();
    const std::wstring& error() const { return m_error; }

private:
    bool call(const wchar_t* entry, MODULE_STATUS status);

    std::wstring m_path;
    HMODULE m_library = nullptr;
    const ModuleFunctions* m_table = nullptr;
    MODULE_HANDLE m_handle = nullptr;
    std::wstring m_error;
};

} // namespace ServiceHost
