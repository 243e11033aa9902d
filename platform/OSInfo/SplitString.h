#pragma once
#include <string>
#include <vector>

namespace Halvex {
namespace internal {

// The pieces of `text` between delimiters, in order; an empty text gives no
// piece. With dropEmpty, empty pieces are left out ("6.2." otherwise gives
// "6", "2" and "").
std::vector<std::wstring> SplitString(const std::wstring& text, wchar_t delimiter, bool dropEmpty);

} // namespace internal
} // namespace Halvex
