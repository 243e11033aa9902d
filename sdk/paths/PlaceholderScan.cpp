#include "paths/PlaceholderScan.h"

namespace Ostrand {
namespace internal {

bool findPlaceholder(const std::wstring& text, size_t from, size_t& begin, size_t& end)
{
    size_t i = from;
    while (i + 1 < text.size()) {
        if (text[i] != L'$' || text[i + 1] != L'(') {
            ++i;
            continue;
        }
        size_t j = i + 2;
        while (j < text.size() && text[j] != L'$' && text[j] != L'(' && text[j] != L')')
            ++j;
        if (j < text.size() && text[j] == L')' && j > i + 2) {
            begin = i;
            end = j + 1;
            return true;
        }
        // No token starts before j: nothing between here and j is a '$'.
        i = j;
    }
    return false;
}

} // namespace internal
} // namespace Ostrand
