#pragma once
#include <stdexcept>
#include <string>

namespace Ostrand {

// Thrown by constructors that cannot obtain a library, a handle or a function table.
class ModuleException : public std::runtime_error {
public:
    explicit ModuleException(const std::string& what) : std::runtime_error(what) {}
    explicit ModuleException(const char* what) : std::runtime_error(what) {}
};

} // namespace Ostrand
