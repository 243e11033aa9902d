#pragma once
#include <string>

namespace Halvex {
namespace internal {

// Where the OS information reads the kernel library's product version: the
// version resource of kernel32.dll in the system folder. A seam, because a
// loaded system library cannot be stood in for by a file of the same name.
class KernelVersionSource {
public:
    virtual ~KernelVersionSource() = default;
    // Empty when it cannot be read.
    virtual std::wstring ProductVersion();
};

} // namespace internal
} // namespace Halvex
