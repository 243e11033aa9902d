#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

namespace Halvex {
namespace internal {

// A module's path in the parts a path split gives: "C:", "\dir\", "app", ".exe".
struct ModulePathParts {
    std::wstring drive;
    std::wstring folder; // ends in a backslash
    std::wstring fileName;
    std::wstring extension;
};

// Splits the full path of a loaded module (null: the program). A truncated
// name is never split: when the whole path cannot be had, the parts are left
// empty and the result is false.
bool ReadModulePathParts(HMODULE module, ModulePathParts& parts);

// The parts a bit set selects (1 drive, 2 folder, 4 file name, 8 extension),
// joined in that order.
std::wstring JoinModulePathParts(const ModulePathParts& parts, uint8_t selected);

} // namespace internal
} // namespace Halvex
