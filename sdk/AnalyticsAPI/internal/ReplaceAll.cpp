#include "AnalyticsAPI/internal/ReplaceAll.h"

#include <algorithm>
#include <locale>

namespace Ostrand {
namespace Analytics {
namespace internal {

void ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to, bool ignoreCase)
{
    if (from.empty())
        return;
    const std::locale& classic = std::locale::classic();
    auto equal = [&](wchar_t a, wchar_t b) {
        return ignoreCase ? std::tolower(a, classic) == std::tolower(b, classic) : a == b;
    };
    size_t position = 0;
    while (position < text.size()) {
        auto found = std::search(text.begin() + static_cast<std::ptrdiff_t>(position), text.end(), from.begin(),
                                 from.end(), equal);
        if (found == text.end())
            break;
        const size_t at = static_cast<size_t>(found - text.begin());
        text.replace(at, from.size(), to);
        position = at + to.size();
    }
}

} // namespace internal
} // namespace Analytics
} // namespace Ostrand
