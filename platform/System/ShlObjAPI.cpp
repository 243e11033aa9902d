#include "System/ShlObjAPI.h"

namespace Halvex {

HRESULT ShlObjAPI::SHGetKnownFolderPath(REFKNOWNFOLDERID folder, DWORD flags, HANDLE token, PWSTR* path)
{
    return ::SHGetKnownFolderPath(folder, flags, token, path);
}

} // namespace Halvex
