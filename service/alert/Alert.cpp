#include "alert/Alert.h"

#include "json/JSONFormatter.h"
#include "message/Message.h"
#include "message/MessageBusClient.h"
#include "viewer/AlertViewer.h"

#include "Logging/Log.h"
#include "MessageBusFunctions.h"

#include <condition_variable>

namespace Kest {

namespace {

const wchar_t kSource[] = L"Alert";
// At most four actions make an alert comparable.
constexpr size_t kMostComparableActions = 4;
// How much of a payload a log line quotes.
constexpr size_t kQuotedPayload = 100;

std::shared_ptr<Ostrand::MessageBus> busOrOwn(std::shared_ptr<Ostrand::MessageBus> bus)
{
    if (bus)
        return bus;
    return std::make_shared<Ostrand::MessageBusClient>();
}

int64_t ticksSince1970()
{
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Every character that means something in an ECMAScript pattern stands for
// itself: alert and instance ids are the requester's text.
std::wstring literal(const std::wstring& text)
{
    static const std::wstring special = L"\\^$.|?*+()[]{}";
    std::wstring out;
    out.reserve(text.size() * 2);
    for (const wchar_t c : text) {
        if (special.find(c) != std::wstring::npos)
            out += L'\\';
        out += c;
    }
    return out;
}

uint64_t nextAlertNumber()
{
    static std::atomic<uint64_t> number{0};
    return ++number;
}

} // namespace

const wchar_t Alert::kSessionCrashed[] = L"Strova.UserSession.Crashed";

struct Alert::Outcome {
    std::mutex lock;
    std::condition_variable changed;
    bool finished = false;
    bool stopped = false;
    // 0 until a user session takes the alert to show it.
    std::atomic<uint32_t> showingSession{0};

    void finish()
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            finished = true;
        }
        changed.notify_all();
    }

    void stop()
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            stopped = true;
        }
        changed.notify_all();
    }

    void restart()
    {
        std::lock_guard<std::mutex> guard(lock);
        finished = false;
    }
};

namespace {

// A viewer that answers through the SDK's bus client has its reply published
// once more as a plain message. Such a copy repeats what the reply already
// told the viewer proxy (a refused Show, a confirmed Delete); taken for the
// user's doing, a refusal would end the next viewer's attempt unseen.
bool isRepliedCopy(const std::shared_ptr<Ostrand::Message>& message)
{
    const Ostrand::MessageHeader* header = message ? message->header() : nullptr;
    return header && header->testFlag(MESSAGE_FLAG_REPLY_COPIED);
}

} // namespace

Alert::Alert(AlertInfo info, std::shared_ptr<Ostrand::MessageBus> bus, std::shared_ptr<AlertTimeScale> timeScale)
    : m_info(std::move(info)),
      m_bus(busOrOwn(std::move(bus))),
      m_timeScale(timeScale ? std::move(timeScale) : std::make_shared<AlertTimeScale>()),
      m_outcome(std::make_shared<Outcome>())
{
    // Aliases of this alert alone, so that alerts sharing a bus never remove
    // each other's subscriptions.
    const std::wstring number = std::to_wstring(nextAlertNumber());
    m_outcomeAlias = L"Sentrel.Alert.Outcome#" + number;
    m_crashAlias = std::wstring(kSessionCrashed) + L"#" + number;
    // A context the parser cannot read fully keeps what was read: the
    // duplicate test then compares that.
    AlertContent::parse(m_display, m_info.context);
    m_creationTime = ticksSince1970();
}

Alert::~Alert()
{
    unsubscribeOutcome();
}

bool Alert::hasPriorityOver(const Alert& other) const
{
    return m_info.priority < other.m_info.priority;
}

bool Alert::isDuplicate(const Alert& other) const
{
    const auto& mine = m_display.actions;
    const auto& theirs = other.m_display.actions;
    if (mine.size() > kMostComparableActions || mine.size() != theirs.size())
        return false;
    for (size_t i = 0; i < mine.size(); ++i) {
        if (mine[i].text != theirs[i].text)
            return false;
    }
    return m_display.title == other.m_display.title && m_display.defaultcontent == other.m_display.defaultcontent &&
           m_display.detailscontent == other.m_display.detailscontent;
}

void Alert::setInfo(const AlertInfo& info)
{
    m_info = info;
}

const AlertInfo& Alert::getInfo() const
{
    return m_info;
}

void Alert::setContent(std::wstring content)
{
    m_info.content = std::move(content);
}

const std::wstring& Alert::getContent() const
{
    return m_info.content;
}

void Alert::setViewer(std::shared_ptr<AlertViewer> viewer)
{
    m_viewer = std::move(viewer);
}

std::shared_ptr<AlertViewer> Alert::getViewer() const
{
    return m_viewer;
}

int64_t Alert::getCreationTime() const
{
    return m_creationTime;
}

std::wstring Alert::outcomePattern(const std::wstring& alertId, const std::wstring& instanceId)
{
    return L"Sentrel\\.Alert\\." + literal(alertId) + L"(\\.Dismissed\\.|\\.Failed\\.)" + literal(instanceId);
}

void Alert::subscribeOutcome()
{
    std::lock_guard<std::mutex> guard(m_subscriptionLock);
    if (m_subscribed)
        return;
    m_subscribed = true;

    std::shared_ptr<Outcome> outcome = m_outcome;
    m_bus->subscribeFilter(outcomePattern(m_info.alertId, m_info.instanceId), m_outcomeAlias,
                           [outcome](std::shared_ptr<Ostrand::Message> message) -> uint32_t {
                               if (!isRepliedCopy(message))
                                   outcome->finish();
                               return MODULE_STATUS_SUCCESS;
                           });

    const uint32_t sessionId = m_info.sessionId;
    m_bus->subscribe(kSessionCrashed, m_crashAlias,
                     [outcome, sessionId](std::shared_ptr<Ostrand::Message> message) -> uint32_t {
                         return onSessionCrashed(*outcome, sessionId, message);
                     });
}

uint32_t Alert::onSessionCrashed(Outcome& outcome, uint32_t sessionId, const std::shared_ptr<Ostrand::Message>& message)
{
    const wchar_t* function = L"Kest::Alert::onSessionCrashed";
    if (!message)
        return MODULE_STATUS_INVALID_PARAMETER;
    const std::wstring quoted = message->payload().substr(0, kQuotedPayload);
    Ostrand::JSONFormatter notice;
    if (!notice.parse(message->payload())) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, L"Failed to parse %ls payload: %ls.",
                message->name().c_str(), quoted.c_str());
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    uint32_t crashed = 0;
    if (!notice.getUInt(L"sessionId", crashed)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, L"Failed to parse session id. Payload: %ls.",
                quoted.c_str());
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    // Another session's crash leaves this alert on screen.
    if (crashed == sessionId || crashed == outcome.showingSession.load())
        outcome.finish();
    return MODULE_STATUS_SUCCESS;
}

void Alert::unsubscribeOutcome()
{
    std::lock_guard<std::mutex> guard(m_subscriptionLock);
    if (!m_subscribed)
        return;
    m_subscribed = false;
    m_bus->unsubscribe(m_outcomeAlias);
    m_bus->unsubscribe(m_crashAlias);
}

bool Alert::isFinished() const
{
    std::lock_guard<std::mutex> guard(m_outcome->lock);
    return m_outcome->finished;
}

bool Alert::show()
{
    const std::shared_ptr<AlertViewer> viewer = m_viewer;
    if (!viewer)
        return false;
    bool expected = false;
    if (!m_shown.compare_exchange_strong(expected, true))
        return true;
    // An earlier viewer's refusal, or its outcome, ended that attempt only.
    m_outcome->restart();
    // In place before the request leaves: a viewer may report the outcome
    // right after its answer.
    subscribeOutcome();
    return viewer->show(AlertInfo::toJson(m_info), m_info.alertId, m_info.instanceId);
}

bool Alert::wait(int64_t seconds)
{
    if (!isShown())
        return false;
    if (isFinished())
        return true;
    bool finished = false;
    {
        std::unique_lock<std::mutex> guard(m_outcome->lock);
        const auto deadline = std::chrono::steady_clock::now() + m_timeScale->toWait(seconds);
        Outcome& outcome = *m_outcome;
        outcome.changed.wait_until(guard, deadline, [&outcome] { return outcome.finished || outcome.stopped; });
        finished = outcome.finished;
    }
    unsubscribeOutcome();
    return finished;
}

bool Alert::dismiss()
{
    if (!isShown())
        return false;
    if (isFinished())
        return true;
    const std::shared_ptr<AlertViewer> viewer = m_viewer;
    if (!viewer)
        return false;
    // The viewer's expected reply is its word that the alert is gone: nothing
    // more is waited for, and whoever still waits for the outcome stops.
    if (!viewer->dismiss(m_info.alertId, m_info.instanceId))
        return false;
    m_outcome->finish();
    return true;
}

bool Alert::isShown() const
{
    return m_shown.load();
}

std::wstring Alert::getPreferredViewerList() const
{
    std::wstring list;
    for (size_t i = 0; i < m_info.preferredViewer.size(); ++i) {
        if (i > 0)
            list += L',';
        list += m_info.preferredViewer[i];
    }
    return list;
}

bool Alert::resetShown()
{
    return m_shown.exchange(false);
}

void Alert::setShowingSession(uint32_t sessionId)
{
    m_outcome->showingSession.store(sessionId);
}

void Alert::stopWaiting()
{
    m_outcome->stop();
}

} // namespace Kest
