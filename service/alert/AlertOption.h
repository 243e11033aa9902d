#pragma once
#include <string>

namespace Kest {

// A choice the viewer offers beside the alert's actions.
struct AlertOption {
    std::wstring id;
    std::wstring text;
    bool selected = false;
};

} // namespace Kest
