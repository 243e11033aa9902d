#include "HostDriver.h"

#include <cstdint>
#include <cstdio>

namespace ModuleHost {

namespace {

MODULE_STATUS managerCallback(void*, void*, void*, void*)
{
    std::printf("ManagerCallback\n");
    return MODULE_STATUS_SUCCESS;
}

std::vector<std::wstring> split(const std::wstring& text, wchar_t separator)
{
    std::vector<std::wstring> parts;
    size_t begin = 0;
    for (;;) {
        const size_t end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end == std::wstring::npos ? std::wstring::npos : end - begin));
        if (end == std::wstring::npos)
            return parts;
        begin = end + 1;
    }
}

} // namespace

HostDriver::HostDriver(const FamilyLibrary& library, HostBus* bus)
    : m_library(library), m_bus(bus), m_table(static_cast<const ModuleFunctions*>(library.createObject(MODULE_LIBRARY_VERSION_NUM)))
{
}

void HostDriver::print(const char* entry, MODULE_STATUS status, const char* detail)
{
    std::printf("%s 0x%08X%s%s\n", entry, static_cast<unsigned>(status), detail ? " " : "", detail ? detail : "");
    std::fflush(stdout);
}

bool HostDriver::run(const std::wstring& step)
{
    const size_t equals = step.find(L'=');
    const std::wstring verb = step.substr(0, equals);
    const std::wstring argument = equals == std::wstring::npos ? std::wstring() : step.substr(equals + 1);

    if (verb == L"version") {
        std::printf("GetVersionNum %u\nGetVersionStr %s\n", static_cast<unsigned>(m_library.versionNum()),
                    m_library.versionStr());
    } else if (verb == L"table") {
        const void* table = m_library.createObject(static_cast<uint32_t>(wcstoul(argument.c_str(), nullptr, 0)));
        std::printf("CreateObject %s\n", table == m_table ? "same" : table ? "different" : "null");
    } else if (verb == L"release") {
        m_library.releaseObject(m_table);
        std::printf("ReleaseObject\n");
    } else if (verb == L"new" || verb == L"new-null-out") {
        MODULE_HANDLE out = reinterpret_cast<MODULE_HANDLE>(uintptr_t{0x5EED});
        const wchar_t* name = equals == std::wstring::npos ? nullptr : argument.c_str();
        const MODULE_STATUS status = m_table->NewModule(verb == L"new" ? &out : nullptr, name);
        const bool stored = out != reinterpret_cast<MODULE_HANDLE>(uintptr_t{0x5EED});
        if (stored)
            m_handle = out;
        print("NewModule", status, stored ? "handle=set" : "handle=untouched");
    } else if (verb.compare(0, 6, L"initv2") == 0) {
        initialize(true, verb.substr(6), argument);
    } else if (verb.compare(0, 4, L"init") == 0) {
        initialize(false, verb.substr(4), argument);
    } else if (verb == L"start") {
        print("StartModule", m_table->StartModule(m_handle));
    } else if (verb == L"stop") {
        print("StopModule", m_table->StopModule(m_handle));
    } else if (verb == L"uninit") {
        print("UninitializeModule", m_table->UninitializeModule(m_handle));
    } else if (verb == L"destroy") {
        const MODULE_STATUS status = m_table->DestroyModule(m_handle);
        m_handle = nullptr;
        print("DestroyModule", status);
    } else if (verb == L"direct") {
        directMessage(argument);
    } else if (verb == L"direct-null-name") {
        print("DirectMessage", m_table->DirectMessage(m_handle, nullptr, nullptr, L"source", L"{}"));
    } else if (!runBusStep(verb, argument)) {
        return false;
    }
    std::fflush(stdout);
    return true;
}

void HostDriver::directMessage(const std::wstring& arguments)
{
    std::vector<std::wstring> parts = split(arguments, L';');
    parts.resize(4);
    MessageWireHeader header = HostBus::header(parts[0], parts[1], parts[2], false);
    header.messageId = 77;
    const MessageWireHeader* sent = &header;
    if (parts[3] == L"v1") {
        header.version = 1;
        header.totalSize = 200;
        header.session.sessionId = 9; // beyond a version-1 header: must not be read
    } else if (parts[3] == L"v2") {
        header.session.sessionId = 5;
    } else {
        sent = nullptr;
    }
    print("DirectMessage",
          m_table->DirectMessage(m_handle, sent, parts[0].c_str(), parts[1].c_str(), parts[2].c_str()));
}

bool HostDriver::runBusStep(const std::wstring& verb, const std::wstring& argument)
{
    const bool busStep = verb == L"publish" || verb == L"request" || verb == L"await" || verb == L"bus-journal" ||
                         verb == L"bus-connections";
    if (!busStep)
        return false;
    if (!m_bus) {
        std::printf("no bus\n");
        return true;
    }
    std::vector<std::wstring> parts = split(argument, L';');
    parts.resize(2);
    const std::chrono::seconds wait(5);
    std::string line;
    if (verb == L"publish") {
        print("Publish", m_bus->publish(parts[0], parts[1]));
    } else if (verb == L"request") {
        const MODULE_STATUS status = m_bus->request(parts[0], parts[1], wait, line);
        print("Request", status, line.c_str());
    } else if (verb == L"await") {
        m_bus->awaitMessage(parts[0], wait, line);
        std::printf("Received %s\n", line.c_str());
    } else if (verb == L"bus-journal") {
        for (const auto& entry : m_bus->journal())
            std::printf("%s\n", entry.c_str());
    } else {
        std::printf("OpenConnections %u\n", static_cast<unsigned>(m_bus->openConnections()));
    }
    return true;
}

void HostDriver::initialize(bool v2, const std::wstring& variant, const std::wstring& arguments)
{
    InitializeArguments parsed;
    if (!arguments.empty()) {
        const std::vector<std::wstring> parts = split(arguments, L';');
        parsed.name = parts[0];
        if (parts.size() > 1)
            parsed.secondName = parts[1];
        for (size_t i = 2; i < parts.size(); ++i) {
            const size_t equals = parts[i].find(L'=');
            parsed.names.push_back(parts[i].substr(0, equals));
            parsed.values.push_back(equals == std::wstring::npos ? std::wstring() : parts[i].substr(equals + 1));
        }
    }
    std::vector<const wchar_t*> names;
    std::vector<const wchar_t*> values;
    for (size_t i = 0; i < parsed.names.size(); ++i) {
        names.push_back(parsed.names[i].c_str());
        values.push_back(parsed.values[i].c_str());
    }
    const wchar_t* name = parsed.name.c_str();
    uint32_t count = static_cast<uint32_t>(names.size());
    const wchar_t* const* nameArray = names.data();
    const wchar_t* const* valueArray = values.data();
    if (variant == L"-null-name") {
        name = nullptr;
    } else if (variant == L"-null-arrays") {
        count = 2;
        nameArray = nullptr;
        valueArray = nullptr;
    } else if (variant == L"-null-value") {
        names.assign({L"first", L"second"});
        values.assign({L"value", nullptr});
        count = 2;
        nameArray = names.data();
        valueArray = values.data();
    }
    void* context = this;
    if (v2) {
        void* busHandle = m_bus ? m_bus->handle() : nullptr;
        const MessageBusFunctions* busFunctions = m_bus ? m_bus->functions() : nullptr;
        if (variant == L"-null-bus")
            busHandle = nullptr;
        else if (variant == L"-null-table")
            busFunctions = nullptr;
        print("InitializeModuleV2", m_table->InitializeModuleV2(m_handle, name, parsed.secondName.c_str(), count,
                                                                 nameArray, valueArray, context, &managerCallback,
                                                                 busHandle, busFunctions));
    } else {
        print("InitializeModule", m_table->InitializeModule(m_handle, name, parsed.secondName.c_str(), count,
                                                             nameArray, valueArray, context, &managerCallback));
    }
}

} // namespace ModuleHost
