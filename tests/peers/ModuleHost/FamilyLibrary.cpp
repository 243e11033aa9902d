#include "FamilyLibrary.h"

namespace ModuleHost {

FamilyLibrary::FamilyLibrary(const std::wstring& path)
{
    m_module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!m_module) {
        m_error = "LoadLibraryExW failed with " + std::to_string(GetLastError());
        return;
    }
    m_ready = resolve(m_createObject, "CreateObject") && resolve(m_releaseObject, "ReleaseObject") &&
              resolve(m_getVersionStr, "GetVersionStr") && resolve(m_getVersionNum, "GetVersionNum");
}

FamilyLibrary::~FamilyLibrary()
{
    if (m_module)
        FreeLibrary(m_module);
}

template <typename Function>
bool FamilyLibrary::resolve(Function& function, const char* name)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
    if (!function)
        m_error = std::string("missing export ") + name;
    return function != nullptr;
}

} // namespace ModuleHost
