// Stand-ins for the service classes whose implementations are not on main
// yet; linked only into this test. Remove once the real ones have landed.
#include "session/ActiveSession.h"
#include "session/AlertGlobalSession.h"
#include "session/AlertSessionFactory.h"
#include "session/AlertUserSession.h"

namespace Kest {

AlertGlobalSession::AlertGlobalSession(std::shared_ptr<ViewerRegistrar>, std::shared_ptr<PluginRegistrar>,
                                       std::shared_ptr<AlertDispatcher>)
{
}
AlertGlobalSession::~AlertGlobalSession() = default;
void AlertGlobalSession::queueAlert(std::shared_ptr<Alert>, bool& suppressed) { suppressed = false; }
bool AlertGlobalSession::deleteAlert(const std::wstring&, const std::wstring&) { return false; }
bool AlertGlobalSession::hasPriorityOver(const std::shared_ptr<Alert>&) { return false; }
std::shared_ptr<Alert> AlertGlobalSession::popAlert() { return nullptr; }
bool AlertGlobalSession::isEmpty() { return true; }
void AlertGlobalSession::registerSessionCallback(uint32_t, std::function<void()>) {}
void AlertGlobalSession::unregisterSessionCallback(uint32_t) {}

AlertUserSession::AlertUserSession(uint32_t, std::shared_ptr<ViewerRegistrar>, std::shared_ptr<PluginRegistrar>,
                                   std::shared_ptr<AlertGlobalSession>, std::shared_ptr<AlertDispatcher>,
                                   std::shared_ptr<Ostrand::MessageBus>)
{
}
AlertUserSession::~AlertUserSession() = default;
void AlertUserSession::queueAlert(std::shared_ptr<Alert>, bool& suppressed) { suppressed = false; }
bool AlertUserSession::deleteAlert(const std::wstring&, const std::wstring&) { return false; }
bool AlertUserSession::isEmpty() { return true; }
bool AlertUserSession::isBusy() { return false; }

std::shared_ptr<AlertSession> AlertSessionFactory::createUserSession(uint32_t sessionId,
                                                                     std::shared_ptr<ViewerRegistrar> viewers,
                                                                     std::shared_ptr<PluginRegistrar> plugins,
                                                                     std::shared_ptr<AlertGlobalSession> global)
{
    return std::make_shared<AlertUserSession>(sessionId, viewers, plugins, global);
}
std::shared_ptr<AlertGlobalSession> AlertSessionFactory::createGlobalSession(std::shared_ptr<ViewerRegistrar> viewers,
                                                                             std::shared_ptr<PluginRegistrar> plugins)
{
    return std::make_shared<AlertGlobalSession>(viewers, plugins);
}

ActiveSession findActiveSession()
{
    ActiveSession none;
    none.enumerated = true;
    return none;
}

} // namespace Kest
