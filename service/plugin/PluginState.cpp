#include "plugin/PluginState.h"

namespace Kest {

const wchar_t* pluginStateName(PluginState state)
{
    switch (state) {
    case PluginState::UNLOADED:
        return L"UNLOADED";
    case PluginState::LOADED:
        return L"LOADED";
    case PluginState::INVALIDATED:
        return L"INVALIDATED";
    }
    return L"UNKNOWN";
}

} // namespace Kest
