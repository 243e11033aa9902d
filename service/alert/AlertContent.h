#pragma once
#include "alert/AlertAction.h"
#include "alert/AlertMessage.h"
#include "alert/AlertOption.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Kest {

// What a viewer displays, read from the "context" object of an alert
// request. The fields bear the names of their JSON members.
struct AlertContent {
    std::wstring category;
    std::wstring title;
    std::wstring shortdescription;
    std::wstring longdescription;
    std::wstring langid;
    std::wstring detailscontent;
    std::wstring defaultcontent;
    std::wstring recommendedtext;
    std::wstring detaillinktext;
    std::wstring detaillinkcontext;
    std::wstring appid;
    std::wstring plugin;
    std::wstring alertmarketdescription;
    std::wstring typedescription;
    std::wstring telemetry;

    uint32_t timeout = 0;
    uint32_t width = 0;
    uint32_t status = 0;
    uint32_t detaillinktype = 0;

    bool SuppressAlertByDefault = false;
    bool legacy = false;

    std::vector<AlertMessage> timeoutactions;
    std::vector<AlertMessage> dismissalactions;
    std::vector<AlertAction> actions;
    std::vector<AlertOption> options;

    // Fills `content` from the context's JSON text. False when the text is
    // not an object, has no "title", or holds an option or an action that
    // lacks a required member; what was read before the failure stays.
    static bool parse(AlertContent& content, const std::wstring& context);
};

} // namespace Kest
