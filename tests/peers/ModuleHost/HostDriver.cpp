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

HostDriver::HostDriver(const FamilyLibrary& library)
    : m_library(library), m_table(static_cast<const ModuleFunctions*>(library.createObject(MODULE_LIBRARY_VERSION_NUM)))
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
        std::vector<std::wstring> parts = split(argument, L';');
        parts.resize(3);
        print("DirectMessage",
              m_table->DirectMessage(m_handle, nullptr, parts[0].c_str(), parts[1].c_str(), parts[2].c_str()));
    } else if (verb == L"direct-null-name") {
        print("DirectMessage", m_table->DirectMessage(m_handle, nullptr, nullptr, L"source", L"{}"));
    } else {
        return false;
    }
    std::fflush(stdout);
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
        print("InitializeModuleV2", m_table->InitializeModuleV2(m_handle, name, parsed.secondName.c_str(), count,
                                                                 nameArray, valueArray, context, &managerCallback,
                                                                 nullptr, nullptr));
    } else {
        print("InitializeModule", m_table->InitializeModule(m_handle, name, parsed.secondName.c_str(), count,
                                                             nameArray, valueArray, context, &managerCallback));
    }
}

} // namespace ModuleHost
