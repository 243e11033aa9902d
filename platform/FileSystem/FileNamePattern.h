#pragma once
#include <string>

namespace Halvex {
namespace internal {

// Matches a file's long name against the name part of a search pattern ("*"
// any run of characters, "?" exactly one, case-insensitive). FindFirstFileW
// also matches a pattern against the 8.3 short name, so "*.log" finds
// "a.logx" through "A~1.LOG"; deleting by pattern filters the long names
// through this instead. A pattern ending in ".*" also matches the name without
// that ending, so "*.*" matches every name and "name.*" matches "name", as on
// Windows.
bool MatchesFileNamePattern(const std::wstring& pattern, const std::wstring& name);

} // namespace internal
} // namespace Halvex
