#include "FileSystem/FileNamePattern.h"

#include <windows.h>

namespace Halvex {
namespace internal {

namespace {

// Names compare as the file system compares them: ordinal, without regard to
// case. (Kernel32's comparison keeps the library free of user32.)
bool sameCharacter(wchar_t a, wchar_t b)
{
    return a == b || CompareStringOrdinal(&a, 1, &b, 1, TRUE) == CSTR_EQUAL;
}

// Wildcard match with one backtrack point: no recursion, so a long name or
// pattern cannot exhaust the stack, and at worst pattern length times name
// length steps.
bool globMatch(const std::wstring& pattern, const std::wstring& name)
{
    size_t p = 0, n = 0;
    size_t starP = std::wstring::npos, starN = 0;
    while (n < name.size()) {
        const bool literal = p < pattern.size() && pattern[p] != L'*';
        if (literal && (pattern[p] == L'?' || sameCharacter(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == L'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::wstring::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*')
        ++p;
    return p == pattern.size();
}

} // namespace

bool MatchesFileNamePattern(const std::wstring& pattern, const std::wstring& name)
{
    if (globMatch(pattern, name))
        return true;
    if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, L".*") == 0)
        return globMatch(pattern.substr(0, pattern.size() - 2), name);
    return false;
}

} // namespace internal
} // namespace Halvex
