#pragma once
// Small helpers over the platform's signature-message and trust calls.
#include <windows.h>
#include <wincrypt.h>

#include <vector>

namespace Halvex {
namespace trust {

// A message parameter of any size into `out`; false when it cannot be read
// or is empty.
bool TrustMsgParam(HCRYPTMSG msg, DWORD type, DWORD index, std::vector<BYTE>& out);

// WinVerifyTrust with the generic verify action on a file, no UI and no
// revocation checks. `file` may be null. With `withState` the verification
// state is closed again afterwards.
LONG TrustWinVerify(const wchar_t* path, HANDLE file, DWORD providerFlags, bool withState);

} // namespace trust
} // namespace Halvex
