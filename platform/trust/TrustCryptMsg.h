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

// CertGetCertificateChain of `cert` at `when` (null: now), with `store` as the
// additional store, for the one usage `usage`; null when no chain is built.
PCCERT_CHAIN_CONTEXT TrustBuildChain(PCCERT_CONTEXT cert, const FILETIME* when, HCERTSTORE store, const char* usage,
                                     DWORD flags);

// WinVerifyTrust with the generic verify action on a file, no UI and no
// revocation checks. `file` may be null. With `withState` the verification
// state is closed again afterwards.
LONG TrustWinVerify(const wchar_t* path, HANDLE file, DWORD providerFlags, bool withState);

} // namespace trust
} // namespace Halvex
