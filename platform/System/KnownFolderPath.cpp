#include "System/KnownFolderPath.h"

#include <objbase.h>

namespace Halvex {
namespace internal {

bool GetKnownFolderPath(ShlObjAPI& shell, REFKNOWNFOLDERID folder, std::wstring& path)
{
    PWSTR text = nullptr;
    const HRESULT result = shell.SHGetKnownFolderPath(folder, 0, nullptr, &text);
    const bool found = SUCCEEDED(result) && text != nullptr;
    if (found)
        path.assign(text);
    if (text)
        CoTaskMemFree(text);
    return found;
}

} // namespace internal
} // namespace Halvex
