#include "trust/TrustHeldFile.h"

#include "trust/TrustLibraryPath.h"

namespace Halvex {
namespace trust {

FileHandle TrustHoldFile(const std::wstring& path)
{
    if (path.empty() || path.find(L'\0') != std::wstring::npos) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FileHandle();
    }
    return FileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

HMODULE TrustLoadHeldFile(const std::wstring& fullPath, DWORD flags)
{
    HMODULE module = LoadLibraryExW(fullPath.c_str(), nullptr, flags);
    if (!module)
        return nullptr;
    // A module mapped as data runs no code and has no file name to compare.
    if (flags & (LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE | LOAD_LIBRARY_AS_IMAGE_RESOURCE))
        return module;
    std::wstring mapped;
    if (TrustModuleFileName(module, mapped) && lstrcmpiW(mapped.c_str(), fullPath.c_str()) == 0)
        return module;
    FreeLibrary(module);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

} // namespace trust
} // namespace Halvex
