#pragma once
#include "paths/PathHelpers.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace Ostrand {

// Where each placeholder's value comes from; every getter answers an empty
// string when its value cannot be had.
class PathHelpers::_Impl {
public:
    // Parts of the host program's path, composed in this order.
    enum : uint8_t { PartDrive = 1, PartFolder = 2, PartFileName = 4, PartExtension = 8 };

    _Impl(std::shared_ptr<ShlObjAPI> shell, std::shared_ptr<Halvex::internal::OSInfoProxy> osInfo,
          std::shared_ptr<RegistryAPI> registry);

    // "win32", "x64" or "PlatformUnknown".
    std::wstring getPlatform() const;
    // Parts of the host program's path, a set of Part bits.
    std::wstring getAppPathPart(uint8_t parts) const;
    // The framework's install folder from the machine registry.
    std::wstring getInstallDir() const;
    std::wstring getKnownFolder(REFKNOWNFOLDERID folder) const;

    // The token's value, or false when the table lacks it or it is empty.
    bool lookUp(const Placeholders& table, const std::wstring& token, std::wstring& value) const;

private:
    std::shared_ptr<ShlObjAPI> m_shell;
    std::shared_ptr<Halvex::internal::OSInfoProxy> m_osInfo;
    std::shared_ptr<RegistryAPI> m_registry;
};

} // namespace Ostrand
