#include "session/AlertSessionFactory.h"

#include "session/AlertGlobalSession.h"
#include "session/AlertUserSession.h"
#include "session/DispatchTurns.h"

namespace Kest {

AlertSessionFactory::AlertSessionFactory() : m_turns(std::make_shared<DispatchTurns>()) {}

std::shared_ptr<AlertSession> AlertSessionFactory::createUserSession(uint32_t sessionId,
                                                                     std::shared_ptr<ViewerRegistrar> viewers,
                                                                     std::shared_ptr<PluginRegistrar> plugins,
                                                                     std::shared_ptr<AlertGlobalSession> global)
{
    return std::make_shared<AlertUserSession>(sessionId, std::move(viewers), std::move(plugins), std::move(global),
                                              nullptr, nullptr, nullptr, m_turns);
}

std::shared_ptr<AlertGlobalSession> AlertSessionFactory::createGlobalSession(std::shared_ptr<ViewerRegistrar> viewers,
                                                                             std::shared_ptr<PluginRegistrar> plugins)
{
    return std::make_shared<AlertGlobalSession>(std::move(viewers), std::move(plugins));
}

} // namespace Kest
