#include "OSInfo/WinOSVersionAPI.h"

namespace Halvex {

BOOL WinOSVersionAPI::VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask, DWORDLONG conditionMask)
{
    if (!info)
        return FALSE;
    return ::VerifyVersionInfoW(info, typeMask, conditionMask);
}

} // namespace Halvex
