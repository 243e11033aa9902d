#pragma once
#include <cstdint>
#include <string>

namespace Ostrand {
namespace internal {

// The parts of a program path: drive ("C:"), folder (with its final
// backslash), file name without extension, extension (with its dot).
class ModulePathParts {
public:
    enum : uint8_t { Drive = 1, Folder = 2, FileName = 4, Extension = 8 };

    // Split the way the C runtime splits a path.
    static ModulePathParts split(const std::wstring& path);
    // The program of the current process, split on first use and kept for the
    // process's life. All parts are empty when its full path cannot be had;
    // a truncated path is never split.
    static const ModulePathParts& hostProgram();

    // The selected parts in the order drive, folder, file name, extension.
    std::wstring compose(uint8_t parts) const;

    std::wstring drive;
    std::wstring folder;
    std::wstring fileName;
    std::wstring extension;
};

} // namespace internal
} // namespace Ostrand
