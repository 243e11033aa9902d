#pragma once
#include <cstdint>

// The OS code and platform value of the running system; platform 2 (not
// determined) is reported as 0. False when nothing could be determined
// (outputs untouched) and for an unknown NT major version (code written as 0,
// the platform all the same).
bool queryOsInfo(uint32_t& osCode, int32_t& platform);

// The platform value: non-zero for a 64-bit capable release, 0 when unknown.
int32_t getPlatformValue();
