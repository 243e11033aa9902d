#pragma once
#include "CommandLineFlag.h"

#include <string>
#include <vector>

// Exact, code unit by code unit; case-sensitive. Both must be NUL-terminated.
bool flagNamesEqual(const wchar_t* left, const wchar_t* right);

// Turns an argument vector into the flags of a tool's table. A flag is
// "-name", "/name", "-name=value" or "/name=value"; an argument without a
// prefix is not a flag and is skipped. The parser only records what it found:
// the tool decides what the flags mean.
class CommandLineParser {
public:
    explicit CommandLineParser(std::vector<CommandLineFlag> table);

    // Every entry counts, the program name in argv[0] included. False when a
    // prefixed argument names no flag of the table; the flags before it stay
    // recorded. A null vector, or a null entry in it, is refused the same way.
    bool parse(int argc, const wchar_t* const* argv);
    bool parseArguments(const std::vector<std::wstring>& arguments);

    bool has(const wchar_t* name) const;
    // The value of the first occurrence; empty when absent or given without "=".
    std::wstring value(const wchar_t* name) const;
    // One line per table row, in table order: "name - description\n".
    std::wstring usage() const;

private:
    std::vector<CommandLineFlag>::const_iterator findFlag(const wchar_t* name) const;
    std::vector<ParsedFlag>::const_iterator findParsed(const wchar_t* name) const;

    std::vector<CommandLineFlag> m_table;
    std::vector<ParsedFlag> m_parsed;
};
