#pragma once
// Makes the trust decision of this process, and of the processes it starts,
// accept libraries signed with the trust kit: the machine's validation-service
// key names the kit folder, whose signed validation double then vouches for
// every file whose signature is intact and for no other.
#include <string>

namespace TrustKit {

// Idempotent; the key is left in place, since concurrent test processes of
// the same build rely on the same value.
void trustSignedLibraries();

// A file of the trust kit, as Wine sees it.
std::wstring kitPath(const std::wstring& name);

} // namespace TrustKit
