#pragma once
#include <cstdint>

namespace Kest {

// Where an alert request came from. Requests carry it as "client" or "web";
// a record may hold any other number, which is written as "unknown".
enum class AlertSource : int32_t {
    Client = 0,
    Web = 1,
};

} // namespace Kest
