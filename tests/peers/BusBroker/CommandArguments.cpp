#include "CommandArguments.h"

#include <windows.h>

#include <shellapi.h>

namespace BusBroker {

std::vector<std::wstring> commandArguments()
{
    std::vector<std::wstring> result;
    int count = 0;
    wchar_t** list = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; list && i < count; ++i)
        result.push_back(list[i]);
    LocalFree(list);
    return result;
}

} // namespace BusBroker
