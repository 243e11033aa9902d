#include "OSInfo/KernelVersionSource.h"

#include "Version/SystemFileVersionInfo.h"

namespace Halvex {
namespace internal {

std::wstring KernelVersionSource::ProductVersion()
{
    SystemFileVersionInfo kernel;
    if (!kernel.Load(L"kernel32.dll"))
        return std::wstring();
    return kernel.GetString(VersionStringName(VersionString::ProductVersion));
}

} // namespace internal
} // namespace Halvex
