#include "telemetry/AlertTelemetry.h"

#include "AnalyticsAPI/Dimensions.h"

namespace Kest {
namespace AlertTelemetry {

namespace {

const wchar_t* updateFlag(bool updateRunning)
{
    return updateRunning ? L"1" : L"0";
}

} // namespace

Event makeEvent(const wchar_t* eventId, const wchar_t* action, bool interactive, const wchar_t* kind)
{
    Event event(eventId);
    event.Category(L"Kest")
        .Action(action)
        .Add(L"Interactive", Ostrand::Analytics::BoolToString(interactive))
        .Add(L"UserInitiated", std::wstring(L"false"))
        .Add(L"Sub.Category", std::wstring(L"Sentrel"))
        .Add(L"Tertiary.Category", std::wstring(kind));
    return event;
}

Event& addHitGuid(Event& event, const std::wstring& alertId)
{
    return event.Add(L"Hit.GUID", alertId);
}

Event& addHitResult(Event& event, uint32_t code)
{
    return event.Add(L"Hit.Result", code);
}

Event& addHitLabel1(Event& event, const std::wstring& value)
{
    return event.Add(L"Hit.Label.1", value);
}

Event& addHitLabel2(Event& event, const std::wstring& value)
{
    return event.Add(L"Hit.Label.2", value);
}

Event& addHitLabel3(Event& event, const std::wstring& value)
{
    return event.Add(L"Hit.Label.3", value);
}

Event& addHitLabel4(Event& event, const std::wstring& value)
{
    return event.Add(L"Hit.Label.4", value);
}

void sendAlertRequest(const std::wstring& alertId, const std::wstring& product, uint32_t sessionId)
{
    Event event = makeEvent(L"Sentrel.Alert.Request", L"SR received the Alert request", false, L"Request");
    addHitResult(addHitGuid(event, alertId).Label(product), sessionId).Send();
}

void sendSuppressedDuplicate(const std::wstring& alertId, const std::wstring& product)
{
    Event event = makeEvent(L"Sentrel.Alert.SuppressedDuplicate", L"SuppressedDuplicate", false,
                            L"SuppressedDuplicate");
    addHitLabel1(addHitGuid(event, alertId), product).Send();
}

void sendAlertDelete(const std::wstring& alertId)
{
    Event event = makeEvent(L"Sentrel.Alert.Delete", L"Deleted", false, L"Deleted");
    addHitLabel1(addHitGuid(event, alertId), L"Legacy").Send();
}

void sendUserSessionFailed(uint32_t sessionId, uint32_t systemError)
{
    Event event = makeEvent(L"Sentrel.UserSession.Failed", L"SR failed to get session", false, L"Session");
    addHitResult(event.Label(std::to_wstring(sessionId)), systemError).Send();
}

void sendPluginFailed(const std::wstring& product, uint32_t loadStatus)
{
    Event event = makeEvent(L"Sentrel.Plugin.Failed", L"SR failed to load Plugin", false, L"Plugin");
    addHitResult(event.Label(product), loadStatus).Send();
}

void sendAlertSuppressed(const std::wstring& alertId, const std::wstring& product, const std::wstring& pluginExtra)
{
    Event event = makeEvent(L"Sentrel.Alert.Suppressed", L"Suppressed", false, L"Suppressed");
    addHitLabel2(addHitLabel1(addHitGuid(event, alertId), product), pluginExtra).Send();
}

void sendPluginProcessFailed(const std::wstring& alertId, const std::wstring& product, uint32_t pluginStatus,
                             const std::wstring& preferredViewers, bool updateRunning)
{
    Event event = makeEvent(L"Sentrel.Failed.PluginProcess", L"SR failed to process Plugin", false, L"Failure");
    addHitResult(addHitGuid(event, alertId).Label(product), pluginStatus);
    addHitLabel3(addHitLabel2(addHitLabel1(event, L"NoViewer"), preferredViewers), updateFlag(updateRunning)).Send();
}

void sendAlertInfoParseFailed(const std::wstring& parsedId, const std::wstring& preferredViewers,
                              const std::wstring& product)
{
    Event event = makeEvent(L"Sentrel.Failed.AlertInfoParse", L"SR failed to parse AlertInfo", false, L"Failure");
    addHitResult(addHitGuid(event, parsedId).Label(L"parseFailed"), 0);
    addHitLabel3(addHitLabel2(addHitLabel1(event, L"NoViewer"), preferredViewers), product).Send();
}

void sendGetContentFailed(const std::wstring& alertId, const std::wstring& product, uint32_t pluginStatus,
                          const std::wstring& viewer)
{
    Event event = makeEvent(L"Sentrel.Warning.GetContentFailed", L"SR warning-Failed to get content", false,
                            L"Warning");
    addHitLabel1(addHitResult(addHitGuid(event, alertId).Label(product), pluginStatus), viewer).Send();
}

void sendAlertShown(const std::wstring& alertId, const std::wstring& viewer, const std::wstring& preferredViewers,
                    const std::wstring& product, int64_t millisecondsSinceCreation)
{
    Event event = makeEvent(L"Sentrel.Alert.Shown", L"Shown", true, L"Shown");
    addHitLabel2(addHitLabel1(addHitGuid(event, alertId), viewer), preferredViewers);
    addHitLabel4(addHitLabel3(event, product), std::to_wstring(millisecondsSinceCreation)).Send();
}

void sendShowFailed(const std::wstring& alertId, const std::wstring& product, uint32_t failureCode,
                    const std::wstring& preferredViewers, bool updateRunning)
{
    Event event = makeEvent(L"Sentrel.Failed.Show", L"SR failed to Show in preferred viewers", false, L"Failure");
    addHitResult(addHitGuid(event, alertId).Label(product), failureCode);
    addHitLabel3(addHitLabel2(addHitLabel1(event, L"All"), preferredViewers), updateFlag(updateRunning)).Send();
}

void sendAlertTimeOut(const std::wstring& alertId, const std::wstring& viewer)
{
    Event event = makeEvent(L"Sentrel.Alert.TimeOut", L"Time Out", false, L"TimeOut");
    addHitLabel1(addHitGuid(event, alertId), viewer).Send();
}

void sendViewerFailure(const std::wstring& alertId, const std::wstring& viewer, uint32_t requestStatus)
{
    Event event = makeEvent(L"Sentrel.Warning.ViewerFailure", L"SR warning-Failed to show Viewer", false,
                            L"Warning");
    addHitResult(addHitGuid(event, alertId).Label(viewer), requestStatus).Send();
}

void sendDismissFailed(const std::wstring& alertId, const std::wstring& viewer, uint32_t requestStatus)
{
    Event event = makeEvent(L"Sentrel.Failed.Dismiss", L"SR failed to Dismiss Alert", false, L"Failure");
    addHitLabel1(addHitResult(addHitGuid(event, alertId).Label(L"Dismiss"), requestStatus), viewer).Send();
}

void sendAlertDismissed(const std::wstring& alertId, const std::wstring& viewer)
{
    Event event = makeEvent(L"Sentrel.Alert.Dismissed", L"Dismissed", true, L"Dismissal");
    addHitLabel1(addHitGuid(event, alertId), viewer).Send();
}

} // namespace AlertTelemetry
} // namespace Kest
