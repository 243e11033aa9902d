#include "paths/PathHelpersImpl.h"

#include "Replacements/ModulePathParts.h"
#include "System/KnownFolderPath.h"

namespace Ostrand {

namespace {

const wchar_t kFrameworkKey[] = L"SOFTWARE\\CORVANE\\STROVA";

// Read once per process; all parts stay empty when the whole path cannot be
// had (a cut name is never split).
const Halvex::internal::ModulePathParts& hostProgramParts()
{
    static const Halvex::internal::ModulePathParts parts = [] {
        Halvex::internal::ModulePathParts read;
        Halvex::internal::ReadModulePathParts(nullptr, read);
        return read;
    }();
    return parts;
}

} // namespace

PathHelpers::_Impl::_Impl(std::shared_ptr<ShlObjAPI> shell, std::shared_ptr<Halvex::internal::OSInfoProxy> osInfo,
                          std::shared_ptr<RegistryAPI> registry)
    : m_shell(shell ? std::move(shell) : std::make_shared<ShlObjAPI>()),
      m_osInfo(osInfo ? std::move(osInfo) : std::make_shared<Halvex::internal::OSInfoProxy>()),
      m_registry(registry ? std::move(registry) : std::make_shared<RegistryAPI>())
{
}

std::wstring PathHelpers::_Impl::getPlatform() const
{
    switch (m_osInfo->GetPlatform()) {
    case Halvex::OSPlatformWin32:
        return L"win32";
    case Halvex::OSPlatformX64:
        return L"x64";
    case Halvex::OSPlatformUnknown:
        return L"PlatformUnknown";
    }
    return std::wstring();
}

std::wstring PathHelpers::_Impl::getAppPathPart(uint8_t parts) const
{
    return Halvex::internal::JoinModulePathParts(hostProgramParts(), parts);
}

// A 32-bit process under WoW64 reads the framework's 32-bit install folder.
std::wstring PathHelpers::_Impl::getInstallDir() const
{
    const wchar_t* valueName = m_osInfo->IsWow64() ? L"Install Dir32" : L"Install Dir";
    std::wstring folder;
    m_registry->readString(kFrameworkKey, valueName, folder);
    return folder;
}

std::wstring PathHelpers::_Impl::getKnownFolder(REFKNOWNFOLDERID folder) const
{
    std::wstring path;
    Halvex::internal::GetKnownFolderPath(*m_shell, folder, path);
    return path;
}

bool PathHelpers::_Impl::lookUp(const Placeholders& table, const std::wstring& token, std::wstring& value) const
{
    const auto found = table.find(token);
    if (found == table.end())
        return false;
    value = found->second(*this);
    return !value.empty();
}

} // namespace Ostrand
