#include "Registry/CObfuscatedRegKey.h"

#include <memory>

namespace Halvex {

CObfuscatedRegKey::CObfuscatedRegKey() : CRegKey(std::make_shared<CObfuscatedRegKeyImpl>()) {}

} // namespace Halvex
