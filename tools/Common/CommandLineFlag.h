#pragma once
#include <string>

// One row of a tool's flag table. Both texts are static literals of the tool;
// nothing copies them.
struct CommandLineFlag {
    const wchar_t* name;
    const wchar_t* description;
};

// One flag found on the command line. `name` is the table row's own pointer,
// so callers may compare it with the literal they put in the table.
struct ParsedFlag {
    const wchar_t* name;
    std::wstring value;
};
