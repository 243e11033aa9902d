#include "Replacements/ModulePathParts.h"

#include "FileSystem/FileSystem.h"

namespace Halvex {
namespace internal {

bool ReadModulePathParts(HMODULE module, ModulePathParts& parts)
{
    parts = ModulePathParts();
    std::wstring folder;
    std::wstring name;
    if (!SplitModulePath(module, folder, true, name))
        return false;
    if (folder.size() >= 2 && folder[1] == L':') {
        parts.drive = folder.substr(0, 2);
        folder.erase(0, 2);
    }
    parts.folder = folder;
    const size_t dot = name.rfind(L'.');
    parts.fileName = name.substr(0, dot);
    if (dot != std::wstring::npos)
        parts.extension = name.substr(dot);
    return true;
}

std::wstring JoinModulePathParts(const ModulePathParts& parts, uint8_t selected)
{
    std::wstring text;
    if (selected & 1)
        text += parts.drive;
    if (selected & 2)
        text += parts.folder;
    if (selected & 4)
        text += parts.fileName;
    if (selected & 8)
        text += parts.extension;
    return text;
}

} // namespace internal
} // namespace Halvex
