#include "FileSystem/FileNamePattern.h"

#include <windows.h>

#include <vector>

namespace Halvex {
namespace internal {

namespace {

std::wstring upper(const std::wstring& text)
{
    std::wstring out = text;
    if (!out.empty())
        CharUpperBuffW(&out[0], static_cast<DWORD>(out.size()));
    return out;
}

// Iterative wildcard match with one backtrack point: linear in practice and
// never recursive, so a long name or pattern cannot exhaust the stack.
bool globMatch(const std::wstring& pattern, const std::wstring& name)
{
    size_t p = 0, n = 0;
    size_t starP = std::wstring::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == L'?' || pattern[p] == name[n])) {
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
    const std::wstring p = upper(pattern);
    const std::wstring n = upper(name);
    if (globMatch(p, n))
        return true;
    if (p.size() >= 2 && p.compare(p.size() - 2, 2, L".*") == 0)
        return globMatch(p.substr(0, p.size() - 2), n);
    return false;
}

} // namespace internal
} // namespace Halvex
