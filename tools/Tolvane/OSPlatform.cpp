#include "OSPlatform.h"

bool queryOsInfo(uint32_t& osCode, int32_t& platform)
{
    const Halvex::internal::OSInfoProxy proxy;
    return queryOsInfoFrom(proxy, osCode, platform);
}

int32_t getPlatformValue()
{
    uint32_t osCode = 0;
    int32_t platform = 0;
    queryOsInfo(osCode, platform);
    return platform;
}
