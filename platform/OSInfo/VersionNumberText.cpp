#include "OSInfo/VersionNumberText.h"

#include "OSInfo/SplitString.h"

namespace Halvex {
namespace internal {

namespace {

bool parseDecimal(const std::wstring& piece, uint32_t& value)
{
    if (piece.empty())
        return false;
    uint64_t number = 0;
    for (wchar_t c : piece) {
        if (c < L'0' || c > L'9')
            return false;
        number = number * 10 + static_cast<uint64_t>(c - L'0');
        if (number > UINT32_MAX)
            return false;
    }
    value = static_cast<uint32_t>(number);
    return true;
}

} // namespace

bool ParseVersionNumberText(const std::wstring& text, uint32_t (&numbers)[4])
{
    for (uint32_t& number : numbers)
        number = 0;
    const std::vector<std::wstring> pieces = SplitString(text, L'.', false);
    if (pieces.empty())
        return false;
    for (size_t i = 0; i < pieces.size() && i < 4; ++i) {
        if (!parseDecimal(pieces[i], numbers[i])) {
            for (uint32_t& number : numbers)
                number = 0;
            return false;
        }
    }
    return true;
}

} // namespace internal
} // namespace Halvex
