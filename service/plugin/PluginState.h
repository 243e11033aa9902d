#pragma once
#include <cstdint>

namespace Kest {

// Where a product's plugin host stands. Any state but LOADED makes the next
// plugin call reload the plugin.
enum class PluginState : uint32_t {
    UNLOADED = 0,
    LOADED = 1,
    INVALIDATED = 2,
};

// "UNLOADED", "LOADED", "INVALIDATED"; "UNKNOWN" for any other value.
const wchar_t* pluginStateName(PluginState state);

} // namespace Kest
