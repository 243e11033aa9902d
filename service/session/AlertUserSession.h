#pragma once
#include "alert/AlertQueue.h"
#include "message/MessageBus.h"
#include "session/AlertSession.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace Kest {

class AlertDispatcher;
class AlertGlobalSession;
class PluginRegistrar;
class ViewerRegistrar;

// Shows the alerts of one Windows user session, one at a time, while that
// session is the active one, from its own queue and the global one.
class AlertUserSession : public AlertSession {
public:
    // Without a dispatcher one is made from the two registrars; without a bus
    // the session opens a connection of its own.
    AlertUserSession(uint32_t sessionId, std::shared_ptr<ViewerRegistrar> viewers,
                     std::shared_ptr<PluginRegistrar> plugins, std::shared_ptr<AlertGlobalSession> global,
                     std::shared_ptr<AlertDispatcher> dispatcher = nullptr,
                     std::shared_ptr<Ostrand::MessageBus> bus = nullptr);
    ~AlertUserSession() override;

    void queueAlert(std::shared_ptr<Alert> alert, bool& suppressed) override;
    bool deleteAlert(const std::wstring& instanceId, const std::wstring& alertId) override;

    virtual bool isEmpty();
    virtual bool isBusy();
    bool isActiveSession();
};

} // namespace Kest
