#pragma once
#include <windows.h>

namespace Halvex {

// The version question the OS information asks the system, as a seam:
// a derived class can play any Windows release.
class WinOSVersionAPI {
public:
    virtual ~WinOSVersionAPI() = default;
    // Non-zero when the running system meets the condition.
    virtual BOOL VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask, DWORDLONG conditionMask);
};

} // namespace Halvex
