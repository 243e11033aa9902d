#include "wrappers/ShlObjAPI.h"

namespace Ostrand {

ShlObjAPI::~ShlObjAPI() = default;

HRESULT ShlObjAPI::SHGetKnownFolderPath(REFKNOWNFOLDERID folderId, DWORD flags, HANDLE token, PWSTR* path)
{
    return ::SHGetKnownFolderPath(folderId, flags, token, path);
}

} // namespace Ostrand
