#pragma once
#include <string>

namespace Kest {

// A bus message that an alert's answer or time-out sends.
struct AlertMessage {
    std::wstring messagename;
    std::wstring payload;
};

} // namespace Kest
