#include "Version/SystemFileVersionInfo.h"

#include "System/KnownFolderPath.h"

#include <knownfolders.h>

namespace Halvex {

SystemFileVersionInfo::SystemFileVersionInfo(std::shared_ptr<ShlObjAPI> shell)
    : m_shell(shell ? std::move(shell) : std::make_shared<ShlObjAPI>())
{
}

std::wstring SystemFileVersionInfo::GetSystemFolder()
{
    if (m_systemFolder.empty()) {
        std::wstring folder;
        if (!internal::GetKnownFolderPath(*m_shell, FOLDERID_System, folder) || folder.empty())
            return L"\\";
        m_systemFolder = folder + L"\\";
    }
    return m_systemFolder;
}

bool SystemFileVersionInfo::Load(const std::wstring& fileName)
{
    const std::wstring folder = GetSystemFolder();
    if (folder == L"\\" || fileName.empty())
        return false;
    return FileVersionInfo::Load(folder + fileName);
}

} // namespace Halvex
