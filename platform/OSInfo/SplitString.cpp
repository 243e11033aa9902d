#include "OSInfo/SplitString.h"

namespace Halvex {
namespace internal {

std::vector<std::wstring> SplitString(const std::wstring& text, wchar_t delimiter, bool dropEmpty)
{
    std::vector<std::wstring> pieces;
    if (text.empty())
        return pieces;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(delimiter, start);
        std::wstring piece = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (!dropEmpty || !piece.empty())
            pieces.push_back(std::move(piece));
        if (end == std::wstring::npos)
            return pieces;
        start = end + 1;
    }
}

} // namespace internal
} // namespace Halvex
