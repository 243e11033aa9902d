#pragma once
#include "session/AlertSession.h"

#include <cstdint>
#include <memory>

namespace Kest {

class AlertGlobalSession;
class PluginRegistrar;
class ViewerRegistrar;

// The one place the service makes its sessions, so that tests can hand it
// sessions of their own.
class AlertSessionFactory {
public:
    virtual std::shared_ptr<AlertSession> createUserSession(uint32_t sessionId,
                                                            std::shared_ptr<ViewerRegistrar> viewers,
                                                            std::shared_ptr<PluginRegistrar> plugins,
                                                            std::shared_ptr<AlertGlobalSession> global);
    virtual std::shared_ptr<AlertGlobalSession> createGlobalSession(std::shared_ptr<ViewerRegistrar> viewers,
                                                                    std::shared_ptr<PluginRegistrar> plugins);
};

} // namespace Kest
