#pragma once
#include "ModuleFunctions.h"

#include <windows.h>

#include <string>

namespace ModuleHost {

// A library of the family (a module library, the bus library) loaded from a
// full path, with its four exports resolved.
// Unloaded when the object goes.
class FamilyLibrary {
public:
    explicit FamilyLibrary(const std::wstring& path);
    ~FamilyLibrary();
    FamilyLibrary(const FamilyLibrary&) = delete;
    FamilyLibrary& operator=(const FamilyLibrary&) = delete;

    // False when the file did not load or an export is missing; error() says which.
    bool ready() const { return m_ready; }
    const std::string& error() const { return m_error; }

    const void* createObject(uint32_t version) const { return m_createObject(version); }
    void releaseObject(const void* object) const { m_releaseObject(object); }
    const char* versionStr() const { return m_getVersionStr(); }
    uint32_t versionNum() const { return m_getVersionNum(); }

private:
    template <typename Function>
    bool resolve(Function& function, const char* name);

    HMODULE m_module = nullptr;
    bool m_ready = false;
    std::string m_error;
    CreateObjectFunction m_createObject = nullptr;
    ReleaseObjectFunction m_releaseObject = nullptr;
    GetVersionStrFunction m_getVersionStr = nullptr;
    GetVersionNumFunction m_getVersionNum = nullptr;
};

} // namespace ModuleHost
