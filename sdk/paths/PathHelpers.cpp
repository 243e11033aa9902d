#include "paths/PathHelpers.h"

#include "paths/ModulePathParts.h"
#include "paths/PathHelpersImpl.h"
#include "paths/PlaceholderScan.h"

#include <knownfolders.h>

namespace Ostrand {

namespace {

using internal::ModulePathParts;

std::function<std::wstring(const PathHelpers::_Impl&)> appPath(uint8_t parts)
{
    return [parts](const PathHelpers::_Impl& impl) { return impl.getAppPathPart(parts); };
}

std::function<std::wstring(const PathHelpers::_Impl&)> knownFolder(const KNOWNFOLDERID& folder)
{
    // A copy: the FOLDERID_ constants live in a library object, not here.
    const KNOWNFOLDERID id = folder;
    return [id](const PathHelpers::_Impl& impl) { return impl.getKnownFolder(id); };
}

} // namespace

// Built from constants only: no call into any library while the program loads.
const PathHelpers::Placeholders PathHelpers::s_placeholders = {
    {L"$(OS.Platform)", [](const _Impl& impl) { return impl.getPlatform(); }},
    {L"$(App.Binary)", appPath(ModulePathParts::FileName | ModulePathParts::Extension)},
    {L"$(App.Name)", appPath(ModulePathParts::FileName)},
    {L"$(App.Folder)", appPath(ModulePathParts::Drive | ModulePathParts::Folder)},
    {L"$(App.Path)", appPath(ModulePathParts::Drive | ModulePathParts::Folder | ModulePathParts::FileName |
                             ModulePathParts::Extension)},
    {L"$(Strova.InstallDir)", [](const _Impl& impl) { return impl.getInstallDir(); }},
    {L"$(FOLDERID_Profile)", knownFolder(FOLDERID_Profile)},
    {L"$(FOLDERID_Desktop)", knownFolder(FOLDERID_Desktop)},
    {L"$(FOLDERID_Documents)", knownFolder(FOLDERID_Documents)},
    {L"$(FOLDERID_LocalAppDataLow)", knownFolder(FOLDERID_LocalAppDataLow)},
    {L"$(FOLDERID_LocalAppData)", knownFolder(FOLDERID_LocalAppData)},
    {L"$(FOLDERID_RoamingAppData)", knownFolder(FOLDERID_RoamingAppData)},
    {L"$(FOLDERID_ProgramData)", knownFolder(FOLDERID_ProgramData)},
    {L"$(FOLDERID_ProgramFiles)", knownFolder(FOLDERID_ProgramFiles)},
    {L"$(FOLDERID_ProgramFilesX64)", knownFolder(FOLDERID_ProgramFilesX64)},
    {L"$(FOLDERID_ProgramFilesX86)", knownFolder(FOLDERID_ProgramFilesX86)},
    {L"$(FOLDERID_ProgramFilesCommon)", knownFolder(FOLDERID_ProgramFilesCommon)},
    {L"$(FOLDERID_ProgramFilesCommonX64)", knownFolder(FOLDERID_ProgramFilesCommonX64)},
    {L"$(FOLDERID_ProgramFilesCommonX86)", knownFolder(FOLDERID_ProgramFilesCommonX86)},
};

PathHelpers::PathHelpers(std::shared_ptr<ShlObjAPI> shell, std::shared_ptr<Halvex::internal::OSInfoProxy> osInfo,
                         std::shared_ptr<RegistryAPI> registry)
    : m_impl(std::make_shared<_Impl>(std::move(shell), std::move(osInfo), std::move(registry)))
{
}

PathHelpers::~PathHelpers() = default;

bool PathHelpers::expand(std::wstring& path)
{
    const std::wstring work = path;
    std::wstring output;
    size_t position = 0;
    size_t begin = 0;
    size_t end = 0;
    while (internal::findPlaceholder(work, position, begin, end)) {
        const std::wstring token = work.substr(begin, end - begin);
        std::wstring value;
        output.append(work, position, begin - position);
        output += m_impl->lookUp(s_placeholders, token, value) ? value : token;
        position = end;
    }
    output.append(work, position, std::wstring::npos);
    path.swap(output);
    return true;
}

} // namespace Ostrand
