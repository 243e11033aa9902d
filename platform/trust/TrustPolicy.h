#pragma once
// The shape of a signer policy: accepted signer names, accepted root
// thumbprints and excluded certificate serial numbers, under a version.
#include <windows.h>

#include <cstddef>

// One accepted root. Only an entry of exactly 20 bytes (a SHA-1 thumbprint)
// can ever match; anything else a list file held is kept but never matches.
struct TrustThumbprint {
    const BYTE* bytes;
    size_t size;
};

// A view of a policy. The lists belong to whoever made the view.
//  names:   null-terminated list; null accepts any name
//  roots:   rootCount entries; null or 0 accepts any root
//  serials: null-terminated list of hexadecimal texts; null excludes nothing
struct TrustPolicy {
    DWORD version;
    const wchar_t* const* names;
    const TrustThumbprint* roots;
    DWORD rootCount;
    const wchar_t* const* serials;
};

// The policy built into this code.
const TrustPolicy& TrustBuiltinPolicy();
