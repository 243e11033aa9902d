#pragma once
#include "alert/Alert.h"

#include <memory>
#include <string>

namespace Kest {

class AlertDispatcher;

// The steps that the global and the user sessions share when an alert comes
// in or a delete request finds it, with their reports. Each names the
// session's log source and function.
namespace SessionSteps {

// The request's ids as they arrived: the plugin may rewrite the alert's
// information, the reports name the request.
struct RequestIds {
    std::wstring alertId;
    std::wstring instanceId;
    std::wstring product;
};

// Lets the product's plugin suppress or rewrite the alert; false, logged,
// when it is not to be queued (also for an empty alert).
bool admit(AlertDispatcher& dispatcher, const std::shared_ptr<Alert>& alert, RequestIds& ids, const wchar_t* source,
           const wchar_t* function);
// The status line and event of an alert refused as a duplicate.
void reportDuplicate(const RequestIds& ids, const wchar_t* source, const wchar_t* function);
// The status line and event of an alert removed from a queue; `alertId` is
// the one the delete request named.
void reportDelete(const std::wstring& alertId, const std::wstring& instanceId, const wchar_t* source,
                  const wchar_t* function);

} // namespace SessionSteps
} // namespace Kest
