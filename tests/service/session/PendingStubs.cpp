// Stand-ins for the dispatcher until its own implementation is on main; the
// tests only ever use subclasses that replace every operation.
#include "dispatch/AlertDispatcher.h"

namespace Kest {

AlertDispatcher::AlertDispatcher(std::shared_ptr<ViewerRegistrar>, std::shared_ptr<PluginRegistrar>,
                                 std::shared_ptr<Ostrand::MessageBus>)
{
}

AlertDispatcher::~AlertDispatcher() = default;

bool AlertDispatcher::process(const std::shared_ptr<Alert>&)
{
    return true;
}

bool AlertDispatcher::show(std::shared_ptr<Alert>)
{
    return false;
}

bool AlertDispatcher::wait()
{
    return false;
}

bool AlertDispatcher::deleteAlert(const std::wstring&)
{
    return false;
}

bool AlertDispatcher::dismissCurrent()
{
    return false;
}

} // namespace Kest
