#pragma once
#include "Registry/CObfuscatedRegKeyImpl.h"
#include "Registry/CRegKey.h"

namespace Halvex {

// A CRegKey whose values are stored enciphered (see CObfuscatedRegKeyImpl);
// callers use the same typed operations.
class CObfuscatedRegKey : public CRegKey {
public:
    CObfuscatedRegKey();
};

} // namespace Halvex
