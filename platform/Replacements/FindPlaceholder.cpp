#include "Replacements/FindPlaceholder.h"

namespace Halvex {
namespace internal {

bool FindPlaceholder(const std::wstring& text, size_t from, size_t& begin, size_t& length)
{
    size_t at = from;
    for (;;) {
        const size_t start = text.find(L"$(", at);
        if (start == std::wstring::npos)
            return false;
        // Stops at the first character a name may not hold; no token can start
        // before it, so the search goes on from there.
        const size_t stop = text.find_first_of(L"$()", start + 2);
        if (stop == std::wstring::npos)
            return false;
        if (text[stop] == L')' && stop > start + 2) {
            begin = start;
            length = stop - start + 1;
            return true;
        }
        at = stop;
    }
}

} // namespace internal
} // namespace Halvex
