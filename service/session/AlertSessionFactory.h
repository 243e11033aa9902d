#pragma once
#include "session/AlertSession.h"

#include <cstdint>
#include <memory>

namespace Kest {

class AlertGlobalSession;
class DispatchTurns;
class PluginRegistrar;
class ViewerRegistrar;

// The one place the service makes its sessions, so that tests can hand it
// sessions of their own.
class AlertSessionFactory {
public:
    AlertSessionFactory();
    virtual ~AlertSessionFactory() = default;

    virtual std::shared_ptr<AlertSession> createUserSession(uint32_t sessionId,
                                                            std::shared_ptr<ViewerRegistrar> viewers,
                                                            std::shared_ptr<PluginRegistrar> plugins,
                                                            std::shared_ptr<AlertGlobalSession> global);
    virtual std::shared_ptr<AlertGlobalSession> createGlobalSession(std::shared_ptr<ViewerRegistrar> viewers,
                                                                    std::shared_ptr<PluginRegistrar> plugins);

private:
    // Shared by every user session made here: a session made again for an
    // id shows nothing until the old one's dispatch thread has ended.
    std::shared_ptr<DispatchTurns> m_turns;
};

} // namespace Kest
