#include "paths/PathHelpers.h"

#include "paths/PathHelpersImpl.h"
#include "Replacements/FindPlaceholder.h"

#include <knownfolders.h>

namespace Ostrand {

namespace {

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
    {L"$(App.Binary)", appPath(_Impl::PartFileName | _Impl::PartExtension)},
    {L"$(App.Name)", appPath(_Impl::PartFileName)},
    {L"$(App.Folder)", appPath(_Impl::PartDrive | _Impl::PartFolder)},
    {L"$(App.Path)", appPath(_Impl::PartDrive | _Impl::PartFolder | _Impl::PartFileName | _Impl::PartExtension)},
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
    size_t length = 0;
    while (Halvex::internal::FindPlaceholder(work, position, begin, length)) {
        const std::wstring token = work.substr(begin, length);
        std::wstring value;
        output.append(work, position, begin - position);
        output += m_impl->lookUp(s_placeholders, token, value) ? value : token;
        position = begin + length;
    }
    output.append(work, position, std::wstring::npos);
    path.swap(output);
    return true;
}

} // namespace Ostrand
