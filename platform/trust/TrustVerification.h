#pragma once
// One signature verification of an open file, kept open while it is used:
// its answer on the file hash and the signature message it read, both from
// the same bytes of the same handle.
#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>

namespace Halvex {
namespace trust {

// Provider flags of a check of the file hash alone: no usage policy, no
// revocation, no retrieval beyond the cache (the chain is judged apart).
const DWORD kTrustHashOnlyFlags =
    WTD_NO_POLICY_USAGE_FLAG | WTD_REVOCATION_CHECK_NONE | WTD_HASH_ONLY_FLAG | WTD_CACHE_ONLY_URL_RETRIEVAL;

class TrustVerification {
public:
    // WinVerifyTrust (generic verify action, no UI, no revocation checks)
    // of `file`, read through the handle from its start (Wine then ignores
    // the path); `path` only names it. Without `keepState` the provider's
    // state is not kept and there is no message.
    TrustVerification(const wchar_t* path, HANDLE file, DWORD providerFlags, bool keepState = true);
    ~TrustVerification();
    TrustVerification(const TrustVerification&) = delete;
    TrustVerification& operator=(const TrustVerification&) = delete;

    LONG answer() const { return m_answer; }
    // The embedded signature message the verification read; null when there
    // was none. Valid while the object lives.
    HCRYPTMSG message() const;

private:
    WINTRUST_FILE_INFO m_file{};
    WINTRUST_DATA m_data{};
    LONG m_answer;
};

} // namespace trust
} // namespace Halvex
