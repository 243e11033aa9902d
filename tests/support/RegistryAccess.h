#pragma once
#include <windows.h>

namespace TestSupport {

// Gives the key an empty DACL, so that nobody can open or delete it any more
// (Wine enforces it: an open is refused with 5). The handle passed keeps the
// access it was opened with, so it can still undo this.
bool denyAllAccess(HKEY key);

// Gives the key a null DACL (everybody full access), to undo denyAllAccess.
bool allowAllAccess(HKEY key);

} // namespace TestSupport
