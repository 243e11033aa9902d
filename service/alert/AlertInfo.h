#pragma once
#include "alert/AlertSource.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Kest {

// An alert request as it travels between products, the service, plugins
// and viewers.
class AlertInfo {
public:
    AlertInfo();
    AlertInfo(const AlertInfo&) = default;
    AlertInfo(AlertInfo&&) = default;
    AlertInfo& operator=(const AlertInfo&) = default;
    AlertInfo& operator=(AlertInfo&&) = default;
    virtual ~AlertInfo() = default;

    // Writes the record as a JSON object. The creation time is not written.
    static std::wstring toJson(const AlertInfo& info);
    // Reads a request into `info`. On false `info` may hold part of the
    // request and is to be discarded.
    static bool fromJson(const std::wstring& json, AlertInfo& info);

    std::wstring alertId;
    std::wstring instanceId;
    int32_t priority = 3;            // 1 (most urgent) to 3
    std::wstring product;
    AlertSource source = AlertSource::Client;
    std::vector<std::wstring> preferredViewer;
    bool forcePreferredViewer = false;
    std::wstring context;            // JSON text of the request's context object
    std::wstring content;            // the chosen viewer's content, from the plugin
    uint32_t timeout = 30;           // seconds on screen
    uint32_t sessionId = 0;          // 0: whichever user session is active
    int64_t creationTime = 0;        // 100-ns units since 1970-01-01 UTC
};

} // namespace Kest
