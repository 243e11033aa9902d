#include "System/AnsiText.h"

#include <algorithm>
#include <climits>
#include <vector>

namespace Halvex {
namespace internal {

DWORD ToAnsiExactly(const wchar_t* text, size_t length, std::string& out)
{
    out.clear();
    if (length == 0)
        return ERROR_SUCCESS;
    if (!text || length > size_t(INT_MAX))
        return ERROR_INVALID_PARAMETER;
    const int count = int(length);
    const int needed = WideCharToMultiByte(CP_THREAD_ACP, 0, text, count, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return GetLastError();
    out.resize(size_t(needed));
    const int written = WideCharToMultiByte(CP_THREAD_ACP, 0, text, count, &out[0], needed, nullptr, nullptr);
    if (written <= 0)
        return GetLastError();
    out.resize(size_t(written));
    // A round trip catches every substitution, whatever the code page (the
    // used-default flag is refused for some and misses best-fit letters).
    const int back = MultiByteToWideChar(CP_THREAD_ACP, 0, out.data(), written, nullptr, 0);
    if (back != count)
        return ERROR_NO_UNICODE_TRANSLATION;
    std::vector<wchar_t> wide(static_cast<size_t>(back));
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, out.data(), written, wide.data(), back) != back ||
        !std::equal(wide.begin(), wide.end(), text))
        return ERROR_NO_UNICODE_TRANSLATION;
    return ERROR_SUCCESS;
}

} // namespace internal
} // namespace Halvex
