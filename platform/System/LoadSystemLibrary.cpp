#include "System/LoadSystemLibrary.h"

#include "System/KnownFolderPath.h"

#include <knownfolders.h>

#include <string>

namespace Halvex {
namespace internal {

HMODULE LoadSystemLibrary(const wchar_t* fileName, DWORD flags)
{
    ShlObjAPI shell;
    return LoadSystemLibrary(shell, fileName, flags);
}

HMODULE LoadSystemLibrary(ShlObjAPI& shell, const wchar_t* fileName, DWORD flags)
{
    if (!fileName || !*fileName)
        return nullptr;
    std::wstring folder;
    if (!GetKnownFolderPath(shell, FOLDERID_System, folder) || folder.empty())
        return nullptr;
    const std::wstring path = folder + L"\\" + fileName;
    return LoadLibraryExW(path.c_str(), nullptr, flags & ~static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH));
}

} // namespace internal
} // namespace Halvex
