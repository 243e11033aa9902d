#pragma once
#include <cstddef>
#include <string>

namespace Ostrand {
namespace internal {

// Finds the first "$(name)" at or after `from`, where the name is one or more
// characters none of which is '$', '(' or ')'. On true, [begin, end) is the
// whole token. A linear scan by hand: the text may come from outside and be
// long, and a regular expression would recurse over it.
bool findPlaceholder(const std::wstring& text, size_t from, size_t& begin, size_t& end);

} // namespace internal
} // namespace Ostrand
