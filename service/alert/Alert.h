#pragma once
#include "alert/AlertContent.h"
#include "alert/AlertInfo.h"
#include "alert/AlertTimeScale.h"
#include "message/MessageBus.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace Kest {

class AlertViewer;

// One alert between its request and its end: the request's information, the
// display content its duplicate test compares, the viewer chosen to show it,
// and the subscriptions through which it learns its outcome: the viewer's
// ".Dismissed." or ".Failed." for this alert, or the host's notice that the
// alert's user session crashed.
class Alert {
public:
    // The host's notice that a user session's processes crashed; its JSON
    // payload names the session in the unsigned member "sessionId".
    static const wchar_t kSessionCrashed[];

    // Without a bus the alert opens a connection of its own, and its
    // subscriptions end with it (throws Ostrand::ModuleException when the bus
    // library cannot be had). Without a time scale waits take real time.
    explicit Alert(AlertInfo info, std::shared_ptr<Ostrand::MessageBus> bus = nullptr,
                   std::shared_ptr<AlertTimeScale> timeScale = nullptr);
    virtual ~Alert();
    Alert(const Alert&) = delete;
    Alert& operator=(const Alert&) = delete;

    // True when this alert's priority number is smaller (1 is the most urgent).
    virtual bool hasPriorityOver(const Alert& other) const;
    // Same display: the same action texts in order (at most four actions),
    // title, default content and details content. Ids and priority do not count.
    virtual bool isDuplicate(const Alert& other) const;

    // Replaces the information, its creation time included; the display
    // content read at construction stays.
    virtual void setInfo(const AlertInfo& info);
    virtual const AlertInfo& getInfo() const;
    virtual void setContent(std::wstring content);
    virtual const std::wstring& getContent() const;
    virtual void setViewer(std::shared_ptr<AlertViewer> viewer);
    virtual std::shared_ptr<AlertViewer> getViewer() const;
    // 100-ns ticks since 1970-01-01 UTC, taken when the alert was made.
    virtual int64_t getCreationTime() const;

    // Subscribes to the outcome, then asks the viewer to show the alert. A
    // second call before resetShown sends nothing and answers true. Each call
    // that asks a viewer starts unfinished: what ended an earlier viewer's
    // attempt does not end this one.
    virtual bool show();
    // Waits until the outcome arrives, stopWaiting is called or `seconds`
    // pass; true when the outcome arrived.
    virtual bool wait(int64_t seconds);
    // Asks the viewer to take the alert down; its confirming reply finishes
    // the alert. True at once for an alert that already finished.
    virtual bool dismiss();
    virtual bool isShown() const;
    // The preferred viewers joined by ",".
    virtual std::wstring getPreferredViewerList() const;
    // Lets the next show ask another viewer; answers the previous flag.
    virtual bool resetShown();
    // The user session that shows the alert: its crash ends the alert too,
    // also when the alert was requested for whichever user is active.
    virtual void setShowingSession(uint32_t sessionId);
    // Ends every wait of this alert at once, now and later.
    virtual void stopWaiting();

    // The regular expression that matches exactly this alert's outcome names.
    static std::wstring outcomePattern(const std::wstring& alertId, const std::wstring& instanceId);

private:
    struct Outcome;

    // Puts both subscriptions in place unless they already are.
    void subscribeOutcome();
    // Removes both subscriptions when they are in place.
    void unsubscribeOutcome();
    bool isFinished() const;
    // The host's crash notice: finishes the alert when it names the alert's
    // own session or the session that shows it.
    static uint32_t onSessionCrashed(Outcome& outcome, uint32_t sessionId,
                                     const std::shared_ptr<Ostrand::Message>& message);

    AlertInfo m_info;
    std::shared_ptr<Ostrand::MessageBus> m_bus;
    std::shared_ptr<AlertTimeScale> m_timeScale;
    std::atomic<bool> m_shown{false};
    // Shared with the bus handlers, so that a late message never reaches a
    // destroyed alert.
    std::shared_ptr<Outcome> m_outcome;
    std::shared_ptr<AlertViewer> m_viewer;
    std::mutex m_subscriptionLock;
    bool m_subscribed = false;
    std::wstring m_outcomeAlias;
    std::wstring m_crashAlias;
    AlertContent m_display;
    int64_t m_creationTime = 0;
};

} // namespace Kest
