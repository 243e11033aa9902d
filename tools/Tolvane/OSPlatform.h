#pragma once
#include "OSInfo/OSInfoProxy.h"

#include <cstdint>

// The OS code and platform value of the proxy's system; platform 2 (not
// determined) is reported as 0. False when nothing could be determined
// (outputs untouched) and for an NT major version the classification does not
// know (code written as 0, the platform written all the same).
template <class Proxy>
bool queryOsInfoFrom(const Proxy& proxy, uint32_t& osCode, int32_t& platform)
{
    Halvex::OSCode code = Halvex::OSCodeUnknown;
    Halvex::OSPlatform found = Halvex::OSPlatformUnknown;
    if (!proxy.GetOSInfo(code, found))
        return false;
    platform = found == Halvex::OSPlatformUnknown ? 0 : static_cast<int32_t>(found);
    if (code == Halvex::OSCodeNTOther) {
        osCode = 0;
        return false;
    }
    osCode = code;
    return true;
}

// The same over a temporary proxy of the running system.
bool queryOsInfo(uint32_t& osCode, int32_t& platform);

// The platform value: non-zero for a 64-bit capable release, 0 when the
// facts cannot be determined. A release newer than the classification knows
// still has its platform: the installer file must match the system.
int32_t getPlatformValue();
