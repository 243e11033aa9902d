#pragma once
#include <cstddef>
#include <string>

namespace Halvex {
namespace internal {

// Finds the first placeholder "$(" name ")" at or after `from`, where the name
// is at least one character and holds no '$', '(' or ')'. On success `begin`
// is the position of the '$' and `length` covers the whole token.
//
// A hand-written scan, linear in the text: placeholders are expanded in paths
// and registry values that come from outside, and a regular expression
// overflows the stack on long enough text.
bool FindPlaceholder(const std::wstring& text, size_t from, size_t& begin, size_t& length);

} // namespace internal
} // namespace Halvex
