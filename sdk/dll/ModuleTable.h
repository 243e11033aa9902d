#pragma once
#include "ModuleFunctions.h"

namespace Ostrand {
namespace internal {

// The constant table a module library's CreateObject hands out.
const ModuleFunctions* moduleFunctionTable();

} // namespace internal
} // namespace Ostrand
