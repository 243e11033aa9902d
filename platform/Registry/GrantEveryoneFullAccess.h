#pragma once
#include "Registry/SecurityAPI.h"

#include <windows.h>

namespace Halvex {
namespace internal {

// Gives the well-known group Everyone full access to an open key (replacing
// an entry it has), and with `recurse` to every key below it that can be
// opened. Win32 code: 0 on success (also on a system outside the NT family,
// where nothing changes), 87 for no key, 2 when the security functions
// cannot be bound. Keys already changed stay changed after a later failure.
LONG GrantEveryoneFullAccess(HKEY key, bool recurse, SecurityAPI& api);

} // namespace internal
} // namespace Halvex
