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

// The class COM creates for `classId`: the end of its chain of TreatAs
// entries (the class itself without one). False when the chain cannot be
// followed to its end: a value that is no class id, a loop, or more than 16
// steps.
bool TrustResolveTreatAs(REFCLSID classId, CLSID& emulating);

} // namespace trust
} // namespace Halvex
