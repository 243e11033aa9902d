// Stand-ins for the registrars while their own code is not yet on main: the
// dispatcher's tests replace every operation the dispatcher calls.
#include "plugin/PluginRegistrar.h"
#include "viewer/ViewerRegistrar.h"

namespace Kest {

ViewerRegistrar::ViewerRegistrar(std::shared_ptr<Ostrand::MessageBus>, std::shared_ptr<Ostrand::SettingsManager>) {}
ViewerRegistrar::~ViewerRegistrar() = default;
std::shared_ptr<AlertViewer> ViewerRegistrar::getViewer(const std::wstring&)
{
    return nullptr;
}

PluginRegistrar::PluginRegistrar(std::shared_ptr<Ostrand::SettingsManager>) {}
PluginRegistrar::~PluginRegistrar() = default;
void PluginRegistrar::start() {}
void PluginRegistrar::stop() {}
MODULE_STATUS PluginRegistrar::processAlert(const std::wstring&, const std::wstring&, std::wstring&, uint32_t*,
                                            std::wstring&)
{
    return MODULE_STATUS_BUFFER_TOO_SMALL;
}
MODULE_STATUS PluginRegistrar::getAlertContent(const std::wstring&, const std::wstring&, const std::wstring&,
                                               std::wstring&)
{
    return MODULE_STATUS_BUFFER_TOO_SMALL;
}

} // namespace Kest
