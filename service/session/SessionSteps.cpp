#include "session/SessionSteps.h"

#include "dispatch/AlertDispatcher.h"
#include "telemetry/AlertStatusLines.h"
#include "telemetry/AlertTelemetry.h"

#include "Logging/Log.h"

namespace Kest {
namespace SessionSteps {

bool admit(AlertDispatcher& dispatcher, const std::shared_ptr<Alert>& alert, RequestIds& ids, const wchar_t* source,
           const wchar_t* function)
{
    if (!alert) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, source, function, L"No alert to queue. Returning.");
        return false;
    }
    ids.alertId = alert->getInfo().alertId;
    ids.instanceId = alert->getInfo().instanceId;
    ids.product = alert->getInfo().product;
    if (dispatcher.process(alert))
        return true;
    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, source, function,
            L"Plugin suppressed the alert. Alert id: %ls, Instance: %ls.", ids.alertId.c_str(), ids.instanceId.c_str());
    return false;
}

void reportDuplicate(const RequestIds& ids, const wchar_t* source, const wchar_t* function)
{
    ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, source, function, StatusLine::kSuppressedDuplicate, ids.alertId.c_str(),
            ids.instanceId.c_str());
    AlertTelemetry::sendSuppressedDuplicate(ids.alertId, ids.product);
}

void reportDelete(const std::wstring& alertId, const std::wstring& instanceId, const wchar_t* source,
                  const wchar_t* function)
{
    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, source, function, StatusLine::kDelete, alertId.c_str(),
            instanceId.c_str());
    AlertTelemetry::sendAlertDelete(alertId);
}

} // namespace SessionSteps
} // namespace Kest
