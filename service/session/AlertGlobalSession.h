#pragma once
#include "alert/AlertQueue.h"
#include "session/AlertSession.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

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
    // An alert a user session took but ended before it was shown: back in
    // its place, and every registered session is woken to show it, as for
    // a new one. Global alerts outlive the session that took them.
    virtual void putBack(std::shared_ptr<Alert> alert);
    // A later registration for an id takes the place of the one before: a
    // session made again for that id while the old one still ends. Answers
    // the registration's token (0 for no callable), by which a session
    // removes its own registration and never its successor's.
    virtual uint64_t registerSessionCallback(uint32_t sessionId, std::function<void()> callback);
    virtual void unregisterSessionCallback(uint32_t sessionId, uint64_t token);

private:
    // The callbacks to call once the mutex is released; the mutex is held.
    std::vector<std::function<void()>> wakeUpsLocked() const;
    static void wakeAll(const std::vector<std::function<void()>>& wakeUps);

    std::shared_ptr<ViewerRegistrar> m_viewers;
    std::shared_ptr<PluginRegistrar> m_plugins;
    std::shared_ptr<AlertDispatcher> m_dispatcher;
    std::mutex m_mutex;
    AlertQueue m_queue;
    struct WakeUp {
        uint64_t token;
        std::function<void()> callback;
    };
    std::unordered_map<uint32_t, WakeUp> m_wakeUps;
    uint64_t m_lastToken = 0;
};

} // namespace Kest
