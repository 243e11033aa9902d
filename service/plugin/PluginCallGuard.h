#pragma once
#include "ModuleStatus.h"

#include <functional>
#include <string>

namespace Kest {

// Runs one call that ends in a product's plugin. Nothing in the plugin
// contract stops an exception at the plugin's side of the table, and one that
// went on would end whichever service thread made the call: whatever `body`
// throws is logged at error level, from `source` and `function`, as
// "Call of <callee> for product <product> threw: <what>. Failing the call."
// and answered with the status every exception becomes at a flat boundary,
// MODULE_STATUS_UNKNOWN_EXCEPTION.
MODULE_STATUS guardPluginCall(const wchar_t* source, const wchar_t* function, const wchar_t* callee,
                              const std::wstring& product, const std::function<MODULE_STATUS()>& body) noexcept;

} // namespace Kest
