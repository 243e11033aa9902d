#pragma once
#include "executor/ServiceExecutor.h"
#include "module/SystemClock.h"

#include "dll/BaseModule.h"
#include "message/Message.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace Halvex {
class monitored_reg_key;
}

namespace Kest {

class AlertGlobalSession;
class AlertSession;
class AlertSessionFactory;
class PluginRegistrar;
class ViewerRegistrar;

// The alert service's module object: answers the products' alert requests
// and queries on the bus, keeps the global session and one session per
// Windows user session, runs the heavy request work on its executor thread,
// and watches for the end of the machine's factory setup.
class SentrelImpl : public Ostrand::BaseModule {
public:
    using Handler = Ostrand::MessageBus::Callback;

    // Any part may be empty; the module then makes its default one.
    SentrelImpl(std::shared_ptr<ViewerRegistrar> viewers, std::shared_ptr<PluginRegistrar> plugins,
                std::shared_ptr<AlertSessionFactory> sessionFactory, std::shared_ptr<SystemClock> clock = nullptr);
    // Also ends a module that was never uninitialised: its handlers are
    // unsubscribed and its executor told to exit before anything goes.
    ~SentrelImpl() override;

    MODULE_STATUS initialize() override;
    MODULE_STATUS start() override;
    MODULE_STATUS stop() override;
    MODULE_STATUS uninitialize() override;

    // The instance text after the last "." of a request name, accepted when
    // it reads as a number no greater than the next id to be handed out.
    bool parseInstanceId(const std::wstring& messageName, std::wstring& instanceId) const;
    // Removed from a queue or taken down from the screen.
    bool deleteAlert(const std::wstring& instanceId, const std::wstring& alertId);
    bool isQueueIdle();

    static const std::vector<std::wstring>& riskAlertIds();
    bool isRiskAlertId(const std::wstring& alertId) const;

private:
    void setupHandlers();
    void cleanupHandlers();
    void unsubscribeHandlers();

    // Bus handlers (SentrelHandlers.cpp). The two posting handlers hand the
    // request to the executor; the others answer on the bus thread.
    uint32_t onShowAlertMessage(std::shared_ptr<Ostrand::Message> message);
    uint32_t onDeleteAlertMessage(std::shared_ptr<Ostrand::Message> message);
    uint32_t showAlertTask(std::shared_ptr<Ostrand::Message> message);
    uint32_t deleteAlertTask(std::shared_ptr<Ostrand::Message> message);
    uint32_t showAlertHandler(std::shared_ptr<Ostrand::Message> message);
    uint32_t deleteAlertHandler(std::shared_ptr<Ostrand::Message> message);
    uint32_t getAlertIdHandler(std::shared_ptr<Ostrand::Message> message);
    uint32_t getQueueStatusHandler(std::shared_ptr<Ostrand::Message> message);
    uint32_t handleSessionLogoff(std::shared_ptr<Ostrand::Message> message);

    // The caller holds the sessions mutex.
    std::shared_ptr<AlertSession> findOrCreateUserSession(uint32_t sessionId);
    // Stops a user session from trying further alerts and from hearing of
    // global ones, without waiting for it; its destruction waits.
    static void beginEndOf(const std::shared_ptr<AlertSession>& session);
    void startActiveSession();

    // Factory mode (SentrelFactoryMode.cpp).
    void detectFactoryMode();
    void onOobeRegistryChange();
    void CollectLogsForRiskAlert(const std::wstring& alertId);

    std::shared_ptr<ViewerRegistrar> m_viewers;
    std::shared_ptr<PluginRegistrar> m_plugins;
    std::shared_ptr<AlertSessionFactory> m_sessionFactory;
    std::unordered_map<std::wstring, Handler> m_handlers;
    bool m_handlersSubscribed = false;
    std::shared_ptr<AlertGlobalSession> m_globalSession;
    std::mutex m_sessionsMutex;
    std::unordered_map<uint32_t, std::shared_ptr<AlertSession>> m_userSessions;
    std::atomic<uint32_t> m_instanceCounter{1};

    std::shared_ptr<SystemClock> m_clock;
    bool m_oobeMode = false;
    std::atomic<uint32_t> m_oobeDone{0};
    std::atomic<int64_t> m_oobeCompletionTime{0};
    const int64_t m_riskWindowSeconds = 3600;
    std::shared_ptr<Halvex::monitored_reg_key> m_registryMonitor;

    // Last, so destroyed first: its thread has ended before anything a task
    // uses (sessions, clock, factory-mode state) goes.
    ServiceExecutor m_executor;
};

} // namespace Kest
