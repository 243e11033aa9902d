#pragma once
#include "AnalyticsAPI/v2/Event.h"

#include <cstdint>
#include <string>

namespace Kest {

// The alert service's telemetry events. Every event carries the category
// "Kest", its action, "Interactive", "UserInitiated" "false", "Sub.Category"
// "Sentrel" and its kind as "Tertiary.Category", then its own dimensions;
// each send function builds its event on the caller's stack and sends it at
// once. Numbers are decimal text: statuses, codes and session ids unsigned.
namespace AlertTelemetry {

using Event = Ostrand::Analytics::v2::CEvent;

// An event with the common dimensions in place.
Event makeEvent(const wchar_t* eventId, const wchar_t* action, bool interactive, const wchar_t* kind);

// Chainable dimension setters.
Event& addHitGuid(Event& event, const std::wstring& alertId);
Event& addHitResult(Event& event, uint32_t code);
Event& addHitLabel1(Event& event, const std::wstring& value);
Event& addHitLabel2(Event& event, const std::wstring& value);
Event& addHitLabel3(Event& event, const std::wstring& value);
Event& addHitLabel4(Event& event, const std::wstring& value);

void sendAlertRequest(const std::wstring& alertId, const std::wstring& product, uint32_t sessionId);
void sendSuppressedDuplicate(const std::wstring& alertId, const std::wstring& product);
// `alertId` is the one the delete request named.
void sendAlertDelete(const std::wstring& alertId);
void sendUserSessionFailed(uint32_t sessionId, uint32_t systemError);
void sendPluginFailed(const std::wstring& product, uint32_t loadStatus);
void sendAlertSuppressed(const std::wstring& alertId, const std::wstring& product, const std::wstring& pluginExtra);
void sendPluginProcessFailed(const std::wstring& alertId, const std::wstring& product, uint32_t pluginStatus,
                             const std::wstring& preferredViewers, bool updateRunning);
// `parsedId` is the id read from the plugin's output, empty when none.
void sendAlertInfoParseFailed(const std::wstring& parsedId, const std::wstring& preferredViewers,
                              const std::wstring& product);
void sendGetContentFailed(const std::wstring& alertId, const std::wstring& product, uint32_t pluginStatus,
                          const std::wstring& viewer);
void sendAlertShown(const std::wstring& alertId, const std::wstring& viewer, const std::wstring& preferredViewers,
                    const std::wstring& product, int64_t millisecondsSinceCreation);
void sendShowFailed(const std::wstring& alertId, const std::wstring& product, uint32_t failureCode,
                    const std::wstring& preferredViewers, bool updateRunning);
void sendAlertTimeOut(const std::wstring& alertId, const std::wstring& viewer);
void sendViewerFailure(const std::wstring& alertId, const std::wstring& viewer, uint32_t requestStatus);
void sendDismissFailed(const std::wstring& alertId, const std::wstring& viewer, uint32_t requestStatus);
void sendAlertDismissed(const std::wstring& alertId, const std::wstring& viewer);

} // namespace AlertTelemetry
} // namespace Kest
