#include "dispatch/AlertDispatcher.h"

#include "json/JSONFormatter.h"
#include "message/MessageBusClient.h"
#include "plugin/PluginRegistrar.h"
#include "telemetry/AlertStatusLines.h"
#include "telemetry/AlertTelemetry.h"
#include "update/CvUpdateMgr_Helper.h"
#include "viewer/AlertViewer.h"
#include "viewer/ViewerRegistrar.h"

#include "Logging/Log.h"

#include <chrono>
#include <exception>
#include <vector>

namespace Kest {

namespace {

const wchar_t kSource[] = L"AlertDispatcher";
const wchar_t kProcess[] = L"Kest::AlertDispatcher::process";
const wchar_t kShow[] = L"Kest::AlertDispatcher::show";
const wchar_t kWait[] = L"Kest::AlertDispatcher::wait";

// Beyond the alert's own time on screen, the viewer gets this long to report.
constexpr uint32_t kOutcomeGraceSeconds = 30;
// A timeout from here on is waited as it stands: with the grace it would
// reach the end of the 32-bit range the viewers know.
constexpr uint32_t kLongestGracedTimeout = 0xFFFFFFE1u;
// The log collector samples requests of every product but this one.
const wchar_t kFullyCollectedProduct[] = L"DIDERE";

// `ticks`: 100-ns units since 1970-01-01 UTC, as alert information keeps its creation time.
int64_t millisecondsSince(int64_t ticks)
{
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
    const Ticks now = std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch());
    return std::chrono::duration_cast<std::chrono::milliseconds>(now - Ticks(ticks)).count();
}

// A failed query counts as no update.
bool updateRunning()
{
    CCvUpdateMgr_Helper helper(L"default");
    BOOL running = FALSE;
    return SUCCEEDED(helper.IsUpdateRunning(&running)) && running;
}

void publish(Ostrand::MessageBus& bus, const std::wstring& name, const std::wstring& source,
             const std::wstring& payload)
{
    // Nobody acts on a lost publication here: the failure is already logged
    // and counted.
    if (auto message = Ostrand::Message::create(name, source, payload))
        bus.publish(message);
}

} // namespace

AlertDispatcher::AlertDispatcher(std::shared_ptr<ViewerRegistrar> viewers, std::shared_ptr<PluginRegistrar> plugins,
                                 std::shared_ptr<Ostrand::MessageBus> bus)
    : m_viewers(viewers ? std::move(viewers) : std::make_shared<ViewerRegistrar>()),
      m_plugins(plugins ? std::move(plugins) : std::make_shared<PluginRegistrar>()),
      m_bus(bus ? std::move(bus) : std::make_shared<Ostrand::MessageBusClient>())
{
}

AlertDispatcher::~AlertDispatcher()
{
    try {
        dismissCurrent();
    } catch (const std::exception& e) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Kest::AlertDispatcher::~AlertDispatcher",
                L"Failed to dismiss the current alert: %hs. Continuing.", e.what());
    } catch (...) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Kest::AlertDispatcher::~AlertDispatcher",
                L"Failed to dismiss the current alert: unknown exception. Continuing.");
    }
}

bool AlertDispatcher::process(const std::shared_ptr<Alert>& alert)
{
    if (!alert) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kProcess, L"Failed to process alert due to null.");
        return false;
    }
    const AlertInfo& info = alert->getInfo();
    const std::wstring input = AlertInfo::toJson(info);
    std::wstring output;
    uint32_t suppress = 0;
    std::wstring extra;
    const MODULE_STATUS status = m_plugins->processAlert(info.product, input, output, &suppress, extra);

    // The plugin's word to suppress stands whatever else it reports.
    if (suppress == 1) {
        ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, kProcess, StatusLine::kSuppressed, info.alertId.c_str(),
                info.instanceId.c_str());
        AlertTelemetry::sendAlertSuppressed(info.alertId, info.product, extra);
        return false;
    }

    if (status != MODULE_STATUS_SUCCESS || output.empty()) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, kProcess,
                L"Failed to process the alert. Continuing with unprocessed input data. Alert id: %ls, Instance id: %ls",
                info.alertId.c_str(), info.instanceId.c_str());
        AlertTelemetry::sendPluginProcessFailed(info.alertId, info.product, status, alert->getPreferredViewerList(),
                                                updateRunning());
        output = input;
    }

    // Made now, so the rewritten information dates from this step.
    AlertInfo processed;
    if (AlertInfo::fromJson(output, processed)) {
        alert->setInfo(processed);
        return true;
    }
    // The ids are whatever the parser read before it gave up.
    ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kProcess,
            L"Failed to parse alert info. Alert id: %ls, Instance id: %ls, OutputAlertInfo : %s",
            processed.alertId.c_str(), processed.instanceId.c_str(), output.c_str());
    AlertTelemetry::sendAlertInfoParseFailed(processed.alertId, alert->getPreferredViewerList(), info.product);
    return false;
}

bool AlertDispatcher::show(std::shared_ptr<Alert> alert)
{
    return tryShow(std::move(alert)) == ShowResult::Shown;
}

AlertDispatcher::ShowResult AlertDispatcher::tryShow(std::shared_ptr<Alert> alert)
{
    if (!alert) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kShow, L"Failed to show alert due to null.");
        return ShowResult::Failed;
    }
    // The alert on screen goes first.
    dismissCurrent();
    std::lock_guard<std::mutex> guard(m_lock);

    // Copies: the alert's information changes with every viewer's content.
    const std::wstring alertId = alert->getInfo().alertId;
    const std::wstring instanceId = alert->getInfo().instanceId;
    const std::wstring product = alert->getInfo().product;
    const std::vector<std::wstring> preferred = alert->getInfo().preferredViewer;

    // One bit per viewer, the first viewer in the highest bit.
    uint32_t viewerErrors = 0;
    uint32_t pluginErrors = 0;
    for (const std::wstring& name : preferred) {
        // Not one more viewer for a session that ends. The alert is not
        // done with: the caller puts it back or releases it as queued.
        if (isStopped()) {
            m_releaser.release(std::move(alert));
            return ShowResult::NotTried;
        }
        std::shared_ptr<AlertViewer> viewer = m_viewers->getViewer(name);
        if (!viewer) {
            viewerErrors = viewerErrors * 2 + 1;
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, kShow, L"Viewer %ls was not registered.", name.c_str());
            continue;
        }
        viewerErrors = viewerErrors * 2;
        alert->setViewer(viewer);
        alert->resetShown();

        std::wstring content;
        const MODULE_STATUS status =
            m_plugins->getAlertContent(product, AlertInfo::toJson(alert->getInfo()), name, content);
        if (status != MODULE_STATUS_SUCCESS) {
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, kShow,
                    L"Failed to get alert content. Alert: %ls, Product: %ls, Viewer: %ls.", alertId.c_str(),
                    product.c_str(), name.c_str());
            AlertTelemetry::sendGetContentFailed(alertId, product, status, name);
            pluginErrors = pluginErrors * 2 + 1;
            continue;
        }
        pluginErrors = pluginErrors * 2;
        alert->setContent(std::move(content));
        if (!alert->show())
            continue;

        m_current = std::move(alert);
        const int64_t created = m_current->getInfo().creationTime;
        const int64_t taken = millisecondsSince(created);
        // A clock set back meanwhile would print as an enormous unsigned number.
        const unsigned long long shownAfter = taken > 0 ? static_cast<unsigned long long>(taken) : 0;
        ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, kShow, StatusLine::kShown, alertId.c_str(),
                instanceId.c_str(), shownAfter);
        AlertTelemetry::sendAlertShown(alertId, viewer->getName(), m_current->getPreferredViewerList(), product,
                                       millisecondsSince(created));
        return ShowResult::Shown;
    }

    reportShowFailure(*alert, pluginErrors, viewerErrors);
    m_releaser.release(std::move(alert));
    return ShowResult::Failed;
}

void AlertDispatcher::reportShowFailure(const Alert& alert, uint32_t pluginErrors, uint32_t viewerErrors)
{
    const AlertInfo& info = alert.getInfo();
    const std::wstring viewers = alert.getPreferredViewerList();
    ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kShow, StatusLine::kFailed, info.alertId.c_str(),
            info.instanceId.c_str(), viewers.c_str(), pluginErrors, viewerErrors);
    // Apart while the list holds at most eight viewers.
    const uint32_t failure = (pluginErrors << 8) | viewerErrors;
    AlertTelemetry::sendShowFailed(info.alertId, info.product, failure, viewers, updateRunning());

    // Whoever waits for this alert learns it will not be shown.
    publish(*m_bus, L"Sentrel.Alert." + info.alertId + L".Failed." + info.instanceId, L"", L"");

    Ostrand::JSONFormatter request;
    request.setString(L"Problem", L"SR_FailedToShowAlert");
    request.setString(L"coolingperiod", L"");
    request.setString(L"throttlingpercent", info.product == kFullyCollectedProduct ? L"100" : L"1");
    request.setString(L"logstocollect", L"2");
    request.setString(L"error_code", std::to_wstring(failure));
    request.setString(L"sub_error_code", info.product);
    request.setString(L"alert_guid", info.alertId);
    request.setString(L"viewers", viewers);
    publish(*m_bus, L"sustainability.collect.logs", L"Sentrel", request.toString());
}

bool AlertDispatcher::wait()
{
    std::shared_ptr<Alert> alert;
    {
        // Not held while waiting: a delete request may take the alert down meanwhile.
        std::lock_guard<std::mutex> guard(m_lock);
        alert = m_current;
    }
    if (!alert)
        return false;

    const bool finished = waitFor(alert);
    const bool stopped = isStopped();
    if (!finished && !stopped) {
        const AlertInfo& info = alert->getInfo();
        ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, kWait, StatusLine::kTimeout, info.alertId.c_str(),
                info.instanceId.c_str());
        const std::shared_ptr<AlertViewer> viewer = alert->getViewer();
        AlertTelemetry::sendAlertTimeOut(info.alertId, viewer ? viewer->getName() : std::wstring());
    }
    // A delete request may have taken the alert down meanwhile: this copy
    // may be the last reference.
    m_releaser.release(std::move(alert));
    // Not finished and stopped is no time-out: the session ends and takes
    // the alert down itself. On a time-out the alert stays current: the
    // caller dismisses it.
    return finished;
}

bool AlertDispatcher::waitFor(const std::shared_ptr<Alert>& alert)
{
    {
        std::lock_guard<std::mutex> guard(m_waitLock);
        if (m_stopped)
            return false;
        m_waiting = alert;
    }
    const uint32_t timeout = alert->getInfo().timeout;
    const int64_t seconds =
        timeout >= kLongestGracedTimeout ? timeout : static_cast<int64_t>(timeout) + kOutcomeGraceSeconds;
    const bool finished = alert->wait(seconds);
    std::lock_guard<std::mutex> guard(m_waitLock);
    m_waiting.reset();
    return finished;
}

bool AlertDispatcher::isStopped()
{
    std::lock_guard<std::mutex> guard(m_waitLock);
    return m_stopped;
}

void AlertDispatcher::abandon(const std::shared_ptr<Alert>& alert)
{
    if (!alert)
        return;
    bool onScreen = false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        onScreen = m_current == alert;
    }
    if (onScreen) {
        // Its viewer reports the outcome of the dismissal.
        dismissCurrent();
        return;
    }
    reportShowFailure(*alert, 0, 0);
}

void AlertDispatcher::release(std::shared_ptr<Alert> alert)
{
    m_releaser.release(std::move(alert));
}

bool AlertDispatcher::deleteAlert(const std::wstring& instanceId)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_current || m_current->getInfo().instanceId != instanceId)
        return false;
    // Forgotten whatever the dismissal answers.
    std::shared_ptr<Alert> alert = std::move(m_current);
    m_current.reset();
    const bool dismissed = alert->dismiss();
    // The request is answered without waiting for the alert's bus
    // connection to close.
    m_releaser.release(std::move(alert));
    return dismissed;
}

void AlertDispatcher::stopWaiting()
{
    std::lock_guard<std::mutex> guard(m_waitLock);
    m_stopped = true;
    if (m_waiting)
        m_waiting->stopWaiting();
}

bool AlertDispatcher::dismissCurrent()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_current)
        return false;
    std::shared_ptr<Alert> alert = std::move(m_current);
    m_current.reset();
    const bool dismissed = alert->dismiss();
    // Its bus connection closes off the dispatch thread, which may be about
    // to show the next alert.
    m_releaser.release(std::move(alert));
    return dismissed;
}

} // namespace Kest
