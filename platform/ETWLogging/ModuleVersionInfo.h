#pragma once
#include <windows.h>

#include <string>

namespace ETWLogging {

// The module's full path; the buffer grows by 255 characters until it fits.
// Empty when it cannot be had.
std::wstring GetModuleFileNameString(HMODULE module);

// The "FileVersion" text of the first translation of a file's version
// resource; "1,2,3,4" becomes "1.2.3.4". Empty when any step fails.
std::wstring ReadFileVersionText(const std::wstring& path);
// "%u,%u,%u,%u" -> "%u.%u.%u.%u"; any other text unchanged.
std::wstring NormaliseVersionText(const std::wstring& text);

// Facts of the module that holds this code, read once per process.
struct ModuleVersionInfo {
    std::wstring path;
    std::wstring folder; // with its final backslash; empty without one
    std::wstring version;
};
const ModuleVersionInfo& LoadModuleVersionInfo();

} // namespace ETWLogging
