#include "Replacements/CommonReplacements.h"

#include "Replacements/FindPlaceholder.h"
#include "Replacements/ModulePathParts.h"
#include "System/KnownFolderPath.h"

#include <knownfolders.h>

namespace Halvex {

namespace {

enum PathPart : uint8_t {
    PartDrive = 1,
    PartFolder = 2,
    PartFileName = 4,
    PartExtension = 8,
};

const internal::ModulePathParts& hostPathParts()
{
    static const internal::ModulePathParts parts = [] {
        internal::ModulePathParts read;
        internal::ReadModulePathParts(nullptr, read);
        return read;
    }();
    return parts;
}

} // namespace

class CommonReplacements::_Impl {
public:
    _Impl(std::shared_ptr<ShlObjAPI> shell, std::shared_ptr<internal::OSInfoProxy> osInfo)
        : m_shell(shell ? std::move(shell) : std::make_shared<ShlObjAPI>()),
          m_osInfo(osInfo ? std::move(osInfo) : std::make_shared<internal::OSInfoProxy>())
    {
    }

    std::wstring getPlatform() const
    {
        switch (m_osInfo->GetPlatform()) {
        case OSPlatformWin32:
            return L"win32";
        case OSPlatformX64:
            return L"x64";
        case OSPlatformUnknown:
            return L"PlatformUnknown";
        default:
            return std::wstring();
        }
    }

    std::wstring getAppPathPart(uint8_t parts) const
    {
        return internal::JoinModulePathParts(hostPathParts(), parts);
    }

    std::wstring getKnownFolder(const KNOWNFOLDERID& folder) const
    {
        std::wstring path;
        internal::GetKnownFolderPath(*m_shell, folder, path);
        return path;
    }

    ExpansionCounts counts;

private:
    std::shared_ptr<ShlObjAPI> m_shell;
    std::shared_ptr<internal::OSInfoProxy> m_osInfo;
};

namespace {

using Impl = CommonReplacements::_Impl;

std::function<std::wstring(const Impl&)> appPath(uint8_t parts)
{
    return [parts](const Impl& impl) { return impl.getAppPathPart(parts); };
}

std::function<std::wstring(const Impl&)> knownFolder(const KNOWNFOLDERID& folder)
{
    const KNOWNFOLDERID id = folder;
    return [id](const Impl& impl) { return impl.getKnownFolder(id); };
}

} // namespace

const CommonReplacements::Table CommonReplacements::s_placeholders = {
    {L"$(OS.Platform)", [](const Impl& impl) { return impl.getPlatform(); }},
    {L"$(App.Binary)", appPath(PartFileName | PartExtension)},
    {L"$(App.Name)", appPath(PartFileName)},
    {L"$(App.Folder)", appPath(PartDrive | PartFolder)},
    {L"$(App.Path)", appPath(PartDrive | PartFolder | PartFileName | PartExtension)},
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

CommonReplacements::CommonReplacements(std::shared_ptr<ShlObjAPI> shell,
                                       std::shared_ptr<internal::OSInfoProxy> osInfo)
    : m_impl(std::make_shared<_Impl>(std::move(shell), std::move(osInfo)))
{
}

CommonReplacements::~CommonReplacements() = default;

bool CommonReplacements::expandWith(std::wstring& text, const ExtraTable& extra)
{
    m_impl->counts = ExpansionCounts();
    ExpansionCounts counts;
    std::wstring output;
    size_t done = 0;
    size_t begin = 0;
    size_t length = 0;
    while (internal::FindPlaceholder(text, done, begin, length)) {
        ++counts.matched;
        const std::wstring token = text.substr(begin, length);
        std::wstring value;
        const auto supplied = extra.find(token);
        if (supplied != extra.end()) {
            // The caller's function is outside input too: one that cannot
            // answer leaves the token as written.
            try {
                value = supplied->second();
            } catch (...) {
                value.clear();
            }
        } else {
            const auto builtIn = s_placeholders.find(token);
            if (builtIn != s_placeholders.end())
                value = builtIn->second(*m_impl);
        }
        if (value.empty())
            value = token;
        if (value != token)
            ++counts.resolved;
        output.append(text, done, begin - done);
        output += value;
        done = begin + length;
    }
    output.append(text, done, std::wstring::npos);
    text.swap(output);
    m_impl->counts = counts;
    return true;
}

bool CommonReplacements::expand(std::wstring& text)
{
    return expandWith(text, ExtraTable());
}

ExpansionCounts CommonReplacements::getExpansionCounts() const
{
    return m_impl->counts;
}

} // namespace Halvex
