#pragma once
#include "FamilyLibrary.h"
#include "HostBus.h"

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
//   initv2=...                   InitializeModuleV2, the same arguments, with the
//                                host's bus handle and table (null without a bus)
//   init-null-name, init-null-arrays, init-null-value (and initv2-...)
//   initv2-null-bus, initv2-null-table   one of the two bus arguments null
//   start | stop | uninit | destroy
//   direct=<name>;<source>;<payload>[;none|v1|v2]   DirectMessage; the header:
//                                none (default), version 1 with totalSize 200 and
//                                message id 77, version 2 with session 5 and id 77
//   direct-null-name
// With a bus (--bus=<bus library> before the module library):
//   publish=<name>;<payload>     "Publish 0x<status>"
//   request=<name>;<payload>     "Request 0x<status> <answer>"
//   await=<name>                 "Received <name> <payload> source=<source>" or "Received none"
//   bus-journal                  the double's journal, "Bus <call> <name>" a line
//   bus-connections              "OpenConnections <n>"
// After "destroy" the driver holds no handle, so later steps pass a null one.
class HostDriver {
public:
    // `bus` may be null: InitializeModuleV2 then gets a null handle and table.
    HostDriver(const FamilyLibrary& library, HostBus* bus);

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
    void directMessage(const std::wstring& arguments);
    bool runBusStep(const std::wstring& verb, const std::wstring& argument);
    void print(const char* entry, MODULE_STATUS status, const char* detail = nullptr);

    const FamilyLibrary& m_library;
    HostBus* m_bus;
    const ModuleFunctions* m_table;
    MODULE_HANDLE m_handle = nullptr;
};

} // namespace ModuleHost
