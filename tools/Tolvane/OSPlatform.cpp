#include "OSPlatform.h"

// PENDING-OSINFO: classification arrives with the OS information proxy.
bool queryOsInfo(uint32_t& osCode, int32_t& platform)
{
    osCode = 11;
    platform = 1;
    return true;
}

int32_t getPlatformValue()
{
    uint32_t osCode = 0;
    int32_t platform = 0;
    queryOsInfo(osCode, platform);
    return platform;
}
