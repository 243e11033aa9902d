#include "trust/TrustPathPin.h"

namespace Halvex {
namespace trust {

namespace {

// Where the first folder below the root begins: after "\\?\X:\", or after
// "\\?\UNC\server\share\"; npos for anything else.
size_t rootLength(const std::wstring& path)
{
    const std::wstring prefix = L"\\\\?\\";
    if (path.compare(0, prefix.size(), prefix) != 0)
        return std::wstring::npos;
    if (path.size() > 7 && path[5] == L':' && path[6] == L'\\')
        return 7;
    const std::wstring unc = L"\\\\?\\UNC\\";
    if (path.compare(0, unc.size(), unc) != 0)
        return std::wstring::npos;
    size_t server = path.find(L'\\', unc.size());
    if (server == std::wstring::npos)
        return std::wstring::npos;
    size_t share = path.find(L'\\', server + 1);
    return share == std::wstring::npos ? std::wstring::npos : share + 1;
}

} // namespace

DWORD TrustPathPin::pin(const std::wstring& finalPath)
{
    release();
    size_t at = rootLength(finalPath);
    if (at == std::wstring::npos)
        return ERROR_ACCESS_DENIED;
    // Read access takes part in sharing checks (attribute access alone would
    // not); others may still read and add files, never delete or rename.
    for (size_t slash = finalPath.find(L'\\', at); slash != std::wstring::npos;
         slash = finalPath.find(L'\\', slash + 1)) {
        const std::wstring folder = finalPath.substr(0, slash);
        FileHandle held(CreateFileW(folder.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
        DWORD error = held.valid() ? 0 : GetLastError();
        BY_HANDLE_FILE_INFORMATION info{};
        if (!error && (!GetFileInformationByHandle(held.get(), &info) ||
                       (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
                       (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0))
            error = ERROR_ACCESS_DENIED;
        if (error) {
            release();
            return error == ERROR_SHARING_VIOLATION ? error : ERROR_ACCESS_DENIED;
        }
        m_folders.push_back(std::move(held));
    }
    return 0;
}

} // namespace trust
} // namespace Halvex
