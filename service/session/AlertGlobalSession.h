#pragma once
#include "alert/AlertQueue.h"
#include "session/AlertSession.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace Kest {

class AlertDispatcher;
class PluginRegistrar;
class ViewerRegistrar;

// The alerts meant for whichever user is active; the user sessions take them
// from here, and every one of them is woken when an alert arrives.
class AlertGlobalSession : public AlertSession {
public:
    AlertGlobalSession(std::shared_ptr<ViewerRegistrar> viewers, std::shared_ptr<PluginRegistrar> plugins,
                       std::shared_ptr<AlertDispatcher> dispatcher = nullptr);
    ~AlertGlobalSession() override;

    void queueAlert(std::shared_ptr<Alert> alert, bool& suppressed) override;
    bool deleteAlert(const std::wstring& instanceId, const std::wstring& alertId) override;

    virtual bool hasPriorityOver(const std::shared_ptr<Alert>& userFront);
    virtual std::shared_ptr<Alert> popAlert();
    virtual bool isEmpty();
    virtual void registerSessionCallback(uint32_t sessionId, std::function<void()> callback);
    virtual void unregisterSessionCallback(uint32_t sessionId);

private:
    std::shared_ptr<ViewerRegistrar> m_viewers;
    std::shared_ptr<PluginRegistrar> m_plugins;
    std::shared_ptr<AlertDispatcher> m_dispatcher;
    std::mutex m_mutex;
    AlertQueue m_queue;
    std::unordered_map<uint32_t, std::function<void()>> m_wakeUps;
};

} // namespace Kest
