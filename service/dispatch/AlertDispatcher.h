#pragma once
#include "alert/Alert.h"
#include "dispatch/AlertReleaser.h"
#include "message/MessageBus.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace Kest {

class PluginRegistrar;
class ViewerRegistrar;

// Carries one alert through its plugin, a viewer and the wait for its
// outcome, and takes down the alert on screen when asked.
class AlertDispatcher {
public:
    // Without a bus the dispatcher opens a connection of its own.
    AlertDispatcher(std::shared_ptr<ViewerRegistrar> viewers, std::shared_ptr<PluginRegistrar> plugins,
                    std::shared_ptr<Ostrand::MessageBus> bus = nullptr);
    // Dismisses the current alert first.
    virtual ~AlertDispatcher();
    AlertDispatcher(const AlertDispatcher&) = delete;
    AlertDispatcher& operator=(const AlertDispatcher&) = delete;

    // True when the alert is to be queued (its information possibly rewritten
    // by the plugin); false when suppressed or the plugin's output is unreadable.
    virtual bool process(const std::shared_ptr<Alert>& alert);
    // True when a viewer showed the alert; it then becomes the current alert.
    virtual bool show(std::shared_ptr<Alert> alert);
    // True when the current alert's outcome came (or its session crashed);
    // false on time-out or when there is no current alert.
    virtual bool wait();
    // Dismisses the current alert when it has this instance id.
    virtual bool deleteAlert(const std::wstring& instanceId);
    virtual bool dismissCurrent();
    // Ends an alert whose handling broke off with an outcome all the same:
    // taken down when it is on screen, otherwise reported as failed to show
    // (status line, event, its ".Failed." outcome, log-collection request).
    virtual void abandon(const std::shared_ptr<Alert>& alert);
    // Ends the outcome wait in progress at once and makes every later wait
    // answer false at once; the session that owns the dispatcher is ending.
    virtual void stopWaiting();
    // How a show ended. NotTried: the end of the owning session came before
    // a further viewer was asked; nothing was reported, so the alert has no
    // outcome yet and stays the caller's, to put back or release.
    enum class ShowResult { Shown, Failed, NotTried };
    // The show, saying how it ended; show answers whether this was Shown.
    virtual ShowResult tryShow(std::shared_ptr<Alert> alert);
    // Lets go of the caller's reference to an alert on the releasing thread,
    // so that its end, if this is the last reference, falls there too.
    void release(std::shared_ptr<Alert> alert);

private:
    // The failure path once no preferred viewer showed the alert: status
    // line, event, the alert's ".Failed." outcome and a log-collection request.
    void reportShowFailure(const Alert& alert, uint32_t pluginErrors, uint32_t viewerErrors);
    // The outcome wait itself; false on time-out or once stopped.
    bool waitFor(const std::shared_ptr<Alert>& alert);
    bool isStopped();

    std::shared_ptr<ViewerRegistrar> m_viewers;
    std::shared_ptr<PluginRegistrar> m_plugins;
    std::shared_ptr<Ostrand::MessageBus> m_bus;
    // Guards the current alert and keeps show, dismissal and deletion apart.
    std::mutex m_lock;
    std::shared_ptr<Alert> m_current;
    // Apart from the mutex above, which a show holds across a viewer request.
    std::mutex m_waitLock;
    std::shared_ptr<Alert> m_waiting;
    bool m_stopped = false;
    // Last, so gone first: alerts taken down are let go of before the rest.
    // Every reference the dispatcher lets go of goes through it, so an
    // alert's end never falls on the dispatch thread or a delete request.
    AlertReleaser m_releaser;
};

} // namespace Kest
