#include "trust/TrustPathPin.h"

#include "Logging/Log.h"

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

bool TrustReparseTagIsLink(DWORD tag)
{
    // A name surrogate (symbolic link, mount point, junction and their kin)
    // makes the name stand for another place; other tags (placeholders of
    // files kept elsewhere, deduplicated data) leave the name where it is.
    return IsReparseTagNameSurrogate(tag) || tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

DWORD TrustPathPin::pin(const std::wstring& finalPath)
{
    release();
    size_t at = rootLength(finalPath);
    if (at == std::wstring::npos)
        return ERROR_ACCESS_DENIED;
    for (size_t slash = finalPath.find(L'\\', at); slash != std::wstring::npos;
         slash = finalPath.find(L'\\', slash + 1)) {
        const std::wstring folder = finalPath.substr(0, slash);
        // Read access takes part in sharing checks (attribute access alone
        // would not): others may still read and add files, never delete or
        // rename.
        FileHandle held(CreateFileW(folder.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
        DWORD error = held.valid() ? 0 : GetLastError();
        bool pinned = !error;
        if (error == ERROR_SHARING_VIOLATION) {
            // Either another handle may delete or rename the folder (it would
            // let us read along with delete sharing): that is what the pin is
            // for, and stays a sharing failure. Or another handle does not
            // share reading at all, which anyone who may list the folder can
            // do: such a folder is only looked at, through a handle that
            // takes no part in sharing, and the load goes ahead as the plain
            // loader's would.
            FileHandle probe(CreateFileW(folder.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            if (!probe.valid() && GetLastError() == ERROR_SHARING_VIOLATION) {
                held = FileHandle(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                              nullptr));
                error = held.valid() ? 0 : GetLastError();
            }
        }
        FILE_ATTRIBUTE_TAG_INFO info{};
        if (!error && (!GetFileInformationByHandleEx(held.get(), FileAttributeTagInfo, &info, sizeof(info)) ||
                       (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
                       ((info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                        TrustReparseTagIsLink(info.ReparseTag))))
            error = ERROR_ACCESS_DENIED;
        if (error) {
            release();
            return error == ERROR_SHARING_VIOLATION ? error : ERROR_ACCESS_DENIED;
        }
        if (pinned) {
            m_folders.push_back(std::move(held));
        } else {
            m_unpinned.push_back(folder);
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, L"trust\\TrustPathPin", L"Halvex::trust::TrustPathPin::pin",
                    L"Folder %ls is held by another handle that does not share reading; it is not pinned.",
                    folder.c_str());
        }
    }
    return 0;
}

} // namespace trust
} // namespace Halvex
