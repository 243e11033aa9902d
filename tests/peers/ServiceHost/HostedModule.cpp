#include "HostedModule.h"

#include "ConsoleLine.h"

#include <cwchar>

namespace ServiceHost {

namespace {

MODULE_STATUS managerCallback(void*, void*, void*, void*)
{
    return MODULE_STATUS_SUCCESS;
}

std::wstring hex(uint32_t value)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08X", value);
    return text;
}

} // namespace

HostedModule::HostedModule(const std::wstring& libraryPath) : m_path(libraryPath) {}

HostedModule::~HostedModule()
{
    stop();
    // The library stays loaded: threads the module left behind may still run its code.
}

bool HostedModule::call(const wchar_t* entry, MODULE_STATUS status)
{
    PeerProgram::say(std::wstring(L"host: ") + entry + L" " + hex(status));
    if (status != MODULE_STATUS_SUCCESS && m_error.empty())
        m_error = std::wstring(entry) + L" answered " + hex(status);
    return status == MODULE_STATUS_SUCCESS;
}

bool HostedModule::start(const std::wstring& name)
{
    // Loaded from the program's folder first, as the host framework loads it.
    m_library = LoadLibraryW(m_path.c_str());
    if (!m_library) {
        m_error = L"cannot load " + m_path + L" (error " + std::to_wstring(GetLastError()) + L")";
        return false;
    }
    const auto createObject =
        reinterpret_cast<CreateObjectFunction>(reinterpret_cast<void*>(GetProcAddress(m_library, "CreateObject")));
    m_table = createObject ? static_cast<const ModuleFunctions*>(createObject(MODULE_LIBRARY_VERSION_NUM)) : nullptr;
    if (!m_table) {
        m_error = m_path + L" gives no module table";
        return false;
    }
    if (!call(L"NewModule", m_table->NewModule(&m_handle, name.c_str())))
        return false;
    return call(L"InitializeModule", m_table->InitializeModule(m_handle, name.c_str(), L"", 0, nullptr, nullptr,
                                                               this, &managerCallback)) &&
           call(L"StartModule", m_table->StartModule(m_handle));
}

bool HostedModule::stop()
{
    if (!m_handle)
        return true;
    bool ok = call(L"StopModule", m_table->StopModule(m_handle));
    ok = call(L"UninitializeModule", m_table->UninitializeModule(m_handle)) && ok;
    ok = call(L"DestroyModule", m_table->DestroyModule(m_handle)) && ok;
    m_handle = nullptr;
    return ok;
}

} // namespace ServiceHost
