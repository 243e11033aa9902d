#pragma once
#include "FamilyLibrary.h"

#include <string>
#include <vector>

namespace ModuleHost {

// Drives one module of a loaded module library the way a host does, one step
// at a time, in whatever order the steps come (repeated and missing steps
// included), and prints one line per call: "<Entry> 0x<status>".
//
// Steps:
//   version                      GetVersionNum and GetVersionStr
//   table=<n>                    CreateObject(n); "same" when it is the table got at load
//   release                      ReleaseObject(table)
//   new | new=<name>             NewModule; "new" alone passes a null name
//   new-null-out                 NewModule with a null out pointer
//   init=<name>;<second>;<k>=<v>;...     InitializeModule ("init" alone: "Module", "")
//   initv2=...                   InitializeModuleV2, the same arguments
//   init-null-name, init-null-arrays, init-null-value (and initv2-...)
//   start | stop | uninit | destroy
//   direct=<name>;<source>;<payload>     DirectMessage without a header
//   direct-null-name
// After "destroy" the driver holds no handle, so later steps pass a null one.
class HostDriver {
public:
    explicit HostDriver(const FamilyLibrary& library);

    // False for a step it does not know.
    bool run(const std::wstring& step);

private:
    struct InitializeArguments {
        std::wstring name = L"Module";
        std::wstring secondName;
        std::vector<std::wstring> names;
        std::vector<std::wstring> values;
    };

    void initialize(bool v2, const std::wstring& variant, const std::wstring& arguments);
    void print(const char* entry, MODULE_STATUS status, const char* detail = nullptr);

    const FamilyLibrary& m_library;
    const ModuleFunctions* m_table;
    MODULE_HANDLE m_handle = nullptr;
};

} // namespace ModuleHost
