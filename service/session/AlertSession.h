#pragma once
#include "alert/Alert.h"

#include <memory>
#include <string>

namespace Kest {

// What the service asks of a session, global or per user.
class AlertSession {
public:
    virtual ~AlertSession() = default;
    // `suppressed` is set when the alert was not queued (plugin or duplicate).
    virtual void queueAlert(std::shared_ptr<Alert> alert, bool& suppressed) = 0;
    virtual bool deleteAlert(const std::wstring& instanceId, const std::wstring& alertId) = 0;
};

} // namespace Kest
