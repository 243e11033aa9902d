#pragma once
#include <windows.h>

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

} // namespace internal
} // namespace Halvex
