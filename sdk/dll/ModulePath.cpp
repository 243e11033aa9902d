#include "dll/ModulePath.h"

#include <vector>

namespace Ostrand {
namespace internal {

std::wstring modulePath(HMODULE module)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        // The last-error value decides below, so an earlier call's must not.
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::wstring();
        if (length < buffer.size())
            return GetLastError() == ERROR_SUCCESS ? std::wstring(buffer.data(), length) : std::wstring();
        if (buffer.size() >= 32768)
            return std::wstring();
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace internal
} // namespace Ostrand
