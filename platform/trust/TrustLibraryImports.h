#pragma once
// The imports of a checked library that the loader would take from the
// library's own folder: held and checked as the library is, before any code
// of it runs. The program's folder and the system folder are the program's
// and the system's own; the current folder and the PATH folders are never
// searched for a checked library's imports (TrustCheckedLoadFlags).
#include "trust/TrustHeldFile.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Halvex {
namespace trust {

// The names a PE file imports at load time, in the order of its import
// directory; false when the bytes are not a PE file whose import directory
// can be read within them.
bool TrustImportedNames(const BYTE* data, SIZE_T size, std::vector<std::string>& names);

class TrustLibraryImports {
public:
    // The check of one held file: 0 when trusted, else the answer to give.
    using Check = std::function<DWORD(const std::wstring& path, HANDLE file)>;

    // Walks the imports of `library` (and theirs, as the loader would) that
    // a load with `flags` takes from the library's own folder, holds each and
    // checks it with `verify`. 0, or the error to give: 5 for an import that
    // is not trusted or cannot be read, the hold's error (32, say) for one
    // that cannot be held. Nothing needs checking when the load runs no
    // code, does not search the library's folder, or that folder is the
    // program's or the system's.
    DWORD check(TrustHeldFile& library, DWORD flags, const Check& verify);

    // After the load: every import held that is mapped under its path is
    // mapped from the held file.
    bool mappedAsChecked();

    void release() { m_held.clear(); }

private:
    std::vector<std::unique_ptr<TrustHeldFile>> m_held;
};

} // namespace trust
} // namespace Halvex
