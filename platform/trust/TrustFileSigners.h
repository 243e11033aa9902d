#pragma once
#include "trust/TrustPolicy.h"
#include "trust/TrustSignedFile.h"

#include <windows.h>
#include <wincrypt.h>

#include <string>

// True when one signer of the file's embedded signature passes every test of
// the policy lists: serial not excluded, name listed, a chain with the
// code-signing usage at the signing time up to a listed root, its own
// signature over the file, and an intact file hash. `file`, when given, is
// the open file of `path`: the signature and the hash are both read through
// it; without it the path is opened once for both. Never throws.
bool TrustCheckFileSigners(const wchar_t* path, const wchar_t* const* names, const TrustThumbprint* roots,
                           DWORD rootCount, const wchar_t* const* serials, HANDLE file = nullptr);
// The same over what one check has learnt of the file so far, shared by the
// policies it tries one after the other.
bool TrustCheckFileSigners(Halvex::trust::TrustSignedFile& file, const wchar_t* const* names,
                           const TrustThumbprint* roots, DWORD rootCount, const wchar_t* const* serials);

namespace Halvex {
namespace trust {

// Serial bytes as a signer info holds them (least significant first) as
// hexadecimal text, most significant byte first.
std::wstring TrustSerialText(const CRYPT_INTEGER_BLOB& serial);

} // namespace trust
} // namespace Halvex
