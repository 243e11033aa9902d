#pragma once
#include "ModuleStatus.h"

namespace Ostrand {

// The constant name of a status code; never null.
const wchar_t* moduleStatusToString(MODULE_STATUS status);

} // namespace Ostrand
