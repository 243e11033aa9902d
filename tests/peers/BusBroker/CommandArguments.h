#pragma once
#include <string>
#include <vector>

namespace BusBroker {

// The program's arguments after its own name, as the command line splits them.
std::vector<std::wstring> commandArguments();

} // namespace BusBroker
