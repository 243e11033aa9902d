#pragma once
// The text of a trusted-signer list file: sections of lines, and the lists
// built from them.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace Halvex {
namespace trust {

using TrustedListSections = std::map<std::wstring, std::vector<std::wstring>>;

// Splits the text (one character per byte) into sections. Comment lines
// ("/*", "//", "*/") and blank lines are skipped; a header with an empty
// name stops the parse (false).
bool TrustedListParse(const std::string& text, TrustedListSections& sections);

// The lists a parsed file stands for.
struct TrustedListContent {
    DWORD version = 0;
    bool hasNames = false;
    std::vector<std::wstring> names;
    std::vector<std::vector<BYTE>> thumbprints;
    bool hasSerials = false;
    std::vector<std::wstring> serials;
};

// False when [VER] is missing, has more than one line or is not a decimal
// number, or when a [SHA] line holds a character that is not hexadecimal.
// An empty or odd-length [SHA] line gives an entry of no bytes.
bool TrustedListBuild(const TrustedListSections& sections, TrustedListContent& content);

} // namespace trust
} // namespace Halvex
