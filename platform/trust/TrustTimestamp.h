#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <vector>

namespace Halvex {
namespace trust {

enum class TimestampResult {
    None,   // the signer carries no timestamp: judge it at the current time
    Time,   // a timestamp whose digest matches the signer, from a trusted authority, gave this time
    Failed, // a timestamp that cannot be read or speaks for other bytes
};

// Reads the signing time of signer `index` of `msg` from its countersignature
// or its RFC 3161 token. The countersigner's digest is checked against the
// signer's signature value here, because the platform's own helpers for it
// are missing or broken under Wine. The time counts only when the
// countersignature's own signature holds and its signer's certificate chains
// without error to a trusted root for time stamping (1.3.6.1.5.5.7.3.8);
// otherwise the answer is None: the signer is judged at the current time.
TimestampResult TrustReadTimestamp(HCRYPTMSG msg, DWORD index, const CMSG_SIGNER_INFO& signer, FILETIME& time);

// A UTCTime attribute value (tag, length, "YYMMDDHHMMSSZ"), exactly 15 bytes.
bool TrustParseUtcTime(const BYTE* data, size_t size, FILETIME& time);

// The hash of `data` with the algorithm named by `oid`; empty when unknown.
std::vector<BYTE> TrustHash(const char* oid, const BYTE* data, size_t size);

} // namespace trust
} // namespace Halvex
