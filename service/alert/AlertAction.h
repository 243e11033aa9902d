#pragma once
#include "alert/AlertActionOption.h"
#include "alert/AlertMessage.h"

#include <string>
#include <vector>

namespace Kest {

// A button of the alert.
struct AlertAction {
    std::wstring id;
    std::wstring text;
    AlertMessage defaultmessage;
    bool isDefault = false;
    std::vector<AlertActionOption> options;
};

} // namespace Kest
