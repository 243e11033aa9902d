#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <vector>

namespace Halvex {
namespace trust {

enum class TimestampResult {
    None,   // the signer carries no timestamp: judge it at the current time
    Time,   // a timestamp whose digest matches the signer gave this time
    Failed, // a timestamp that cannot be read or speaks for other bytes
};

// Reads the signing time of signer `index` of `msg` from its countersignature
// or its RFC 3161 token. The countersigner's digest is checked against the
// signer's signature value here, because the platform's own helpers for it
// are missing or broken under Wine.
TimestampResult TrustReadTimestamp(HCRYPTMSG msg, DWORD index, const CMSG_SIGNER_INFO& signer, FILETIME& time);

// A UTCTime attribute value (tag, length, "YYMMDDHHMMSSZ"), exactly 15 bytes.
bool TrustParseUtcTime(const BYTE* data, size_t size, FILETIME& time);

// The hash of `data` with the algorithm named by `oid`; empty when unknown.
std::vector<BYTE> TrustHash(const char* oid, const BYTE* data, size_t size);

} // namespace trust
} // namespace Halvex
