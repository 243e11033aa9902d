#include "CommandLineParser.h"

#include <sstream>
#include <utility>

bool flagNamesEqual(const wchar_t* left, const wchar_t* right)
{
    if (!left || !right)
        return left == right;
    while (*left && *left == *right) {
        ++left;
        ++right;
    }
    return *left == *right;
}

CommandLineParser::CommandLineParser(std::vector<CommandLineFlag> table) : m_table(std::move(table)) {}

bool CommandLineParser::parse(int argc, const wchar_t* const* argv)
{
    if (argc < 0 || (argc > 0 && !argv))
        return false;
    std::vector<std::wstring> arguments;
    arguments.reserve(static_cast<size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        if (!argv[i])
            return false;
        arguments.emplace_back(argv[i]);
    }
    return parseArguments(arguments);
}

bool CommandLineParser::parseArguments(const std::vector<std::wstring>& arguments)
{
    for (const std::wstring& argument : arguments) {
        if (argument.empty() || (argument[0] != L'-' && argument[0] != L'/'))
            continue;
        const size_t equals = argument.find(L'=');
        std::wstring name;
        std::wstring value;
        if (equals == std::wstring::npos) {
            name = argument.substr(1);
        } else {
            name = argument.substr(1, equals - 1);
            value = argument.substr(equals + 1);
        }
        const auto row = findFlag(name.c_str());
        if (row == m_table.end())
            return false;
        m_parsed.push_back(ParsedFlag{row->name, std::move(value)});
    }
    return true;
}

bool CommandLineParser::has(const wchar_t* name) const { return findParsed(name) != m_parsed.end(); }

std::wstring CommandLineParser::value(const wchar_t* name) const
{
    const auto found = findParsed(name);
    return found == m_parsed.end() ? std::wstring() : found->value;
}

std::wstring CommandLineParser::usage() const
{
    std::wostringstream text;
    for (const CommandLineFlag& row : m_table)
        text << (row.name ? row.name : L"") << L" - " << (row.description ? row.description : L"") << L'\n'
             << std::flush;
    return text.str();
}

std::vector<CommandLineFlag>::const_iterator CommandLineParser::findFlag(const wchar_t* name) const
{
    for (auto row = m_table.begin(); row != m_table.end(); ++row)
        if (flagNamesEqual(row->name, name))
            return row;
    return m_table.end();
}

std::vector<ParsedFlag>::const_iterator CommandLineParser::findParsed(const wchar_t* name) const
{
    for (auto entry = m_parsed.begin(); entry != m_parsed.end(); ++entry)
        if (flagNamesEqual(entry->name, name))
            return entry;
    return m_parsed.end();
}
