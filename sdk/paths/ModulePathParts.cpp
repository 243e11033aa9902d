#include "paths/ModulePathParts.h"

#include "FileSystem/FileSystem.h"

namespace Ostrand {
namespace internal {

ModulePathParts ModulePathParts::split(const std::wstring& path)
{
    ModulePathParts parts;
    std::wstring rest = path;
    if (rest.size() >= 2 && rest[1] == L':') {
        parts.drive = rest.substr(0, 2);
        rest.erase(0, 2);
    }
    const size_t slash = rest.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        parts.folder = rest.substr(0, slash + 1);
        rest.erase(0, slash + 1);
    }
    const size_t dot = rest.rfind(L'.');
    if (dot != std::wstring::npos) {
        parts.extension = rest.substr(dot);
        rest.erase(dot);
    }
    parts.fileName = rest;
    return parts;
}

const ModulePathParts& ModulePathParts::hostProgram()
{
    static const ModulePathParts parts = [] {
        std::wstring folder;
        std::wstring fileName;
        // The platform helper grows its buffer and fails rather than hand
        // back a cut (and, under Wine, unterminated) name.
        if (!Halvex::SplitModulePath(nullptr, folder, true, fileName))
            return ModulePathParts();
        return split(folder + fileName);
    }();
    return parts;
}

std::wstring ModulePathParts::compose(uint8_t parts) const
{
    std::wstring text;
    if (parts & Drive)
        text += drive;
    if (parts & Folder)
        text += folder;
    if (parts & FileName)
        text += fileName;
    if (parts & Extension)
        text += extension;
    return text;
}

} // namespace internal
} // namespace Ostrand
