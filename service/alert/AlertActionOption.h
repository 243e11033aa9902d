#pragma once
#include "alert/AlertMessage.h"

#include <string>
#include <vector>

namespace Kest {

// The message an action sends instead of its default one when the options
// named in idList are the ones chosen.
struct AlertActionOption {
    std::vector<std::wstring> idList;
    AlertMessage message;
};

} // namespace Kest
