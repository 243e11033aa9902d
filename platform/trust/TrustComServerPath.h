#pragma once
// The file COM would load for an in-process class, found before COM is
// asked, so that the file can be checked before any of its code runs.
#include <windows.h>

#include <string>

namespace Halvex {
namespace trust {

enum class ComServerPath {
    None,       // no in-process server is registered for the class
    Found,      // `fullPath` is the file COM would load
    Unresolved, // a server is registered, but no file it names can be found
};

// Reads the class's InprocServer32 default value from the classes root as
// COM does (a REG_EXPAND_SZ value expanded, surrounding quotes dropped) and
// resolves it the way the loader would (a relative name included).
ComServerPath TrustFindComServerPath(REFCLSID classId, std::wstring& fullPath);

} // namespace trust
} // namespace Halvex
